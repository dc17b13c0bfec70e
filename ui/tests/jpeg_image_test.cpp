#include "../jpeg_image.h"
#include "../instructions_picture_layout.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h uses FILE and size_t without including their headers.
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

namespace qinglan {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes read_asset(const std::string& name) {
    std::ifstream file(std::string(QINGLAN_ASSETS_DIR) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

const Bytes& instructions_picture() {
    static const Bytes bytes = read_asset("instructions_picture.jpg");
    return bytes;
}

// Compresses pixels made by colour_at(x, y) with libjpeg, so tests can decode pictures whose
// every pixel is known. components is 3 for RGB input or 1 for grey.
class Encoder {
  public:
    Encoder() {
        info_.err = jpeg_std_error(&errors_);
        jpeg_create_compress(&info_);
    }
    ~Encoder() {
        jpeg_destroy_compress(&info_);
        std::free(buffer_);
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    Bytes encode(int width, int height, int components,
                 const std::function<std::uint8_t(int x, int y, int component)>& colour_at) {
        info_.image_width = static_cast<JDIMENSION>(width);
        info_.image_height = static_cast<JDIMENSION>(height);
        info_.input_components = components;
        info_.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
        jpeg_set_defaults(&info_);
        jpeg_set_quality(&info_, 100, TRUE);
        jpeg_mem_dest(&info_, &buffer_, &size_);
        jpeg_start_compress(&info_, TRUE);
        Bytes row(static_cast<std::size_t>(width * components));
        for (int y = 0; y < height; ++y) {
            for (std::size_t at = 0; at < row.size(); ++at) {
                const int x = static_cast<int>(at) / components;
                row[at] = colour_at(x, y, static_cast<int>(at) % components);
            }
            JSAMPROW rows[] = {row.data()};
            jpeg_write_scanlines(&info_, rows, 1);
        }
        jpeg_finish_compress(&info_);
        return Bytes(buffer_, buffer_ + size_);
    }

  private:
    jpeg_error_mgr errors_{};
    jpeg_compress_struct info_{};
    unsigned char* buffer_ = nullptr;
    unsigned long size_ = 0;
};

struct Bgr {
    int b;
    int g;
    int r;
};

Bgr pixel(const DecodedImage& image, int x, int y) {
    const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
                            static_cast<std::size_t>(x)) *
                           3;
    return {image.bgr[at], image.bgr[at + 1], image.bgr[at + 2]};
}

bool dark(Bgr c) {
    return c.b < 64 && c.g < 64 && c.r < 64;
}
bool light(Bgr c) {
    return c.b > 192 && c.g > 192 && c.r > 192;
}

// The centre pixel of QR module (column, row) in the instructions picture.
Bgr module_centre(const DecodedImage& image, int column, int row) {
    const int half = kQrModulePixels / 2;
    return pixel(image, kQrLeft + column * kQrModulePixels + half,
                 kQrTop + row * kQrModulePixels + half);
}

// Offset of the first segment with the given marker, found by walking the segments after SOI.
std::size_t segment_offset(const Bytes& jpeg, std::uint8_t marker) {
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        if (jpeg[at + 1] == marker) {
            return at;
        }
        at += 2 + static_cast<std::size_t>(jpeg[at + 2] << 8 | jpeg[at + 3]);
    }
    ADD_FAILURE() << "no segment with marker " << int{marker};
    return 0;
}

TEST(DecodeJpeg, DecodesTheInstructionsPictureWithItsQrCode) {
    ASSERT_FALSE(instructions_picture().empty()) << "assets/instructions_picture.jpg is missing";
    const auto image = decode_jpeg(instructions_picture());
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, kInstructionsPictureWidth);
    EXPECT_EQ(image->height, kInstructionsPictureHeight);
    ASSERT_EQ(image->bgr.size(), std::size_t{131} * 133 * 3);

    // The top-left finder pattern, going right from its middle along row 3: the 3 × 3 core
    // (columns 2 to 4), the light ring (column 5), the dark outer ring (column 6), then the light
    // separator (column 7). Rows above and below the core see the same rings.
    struct Case {
        int column;
        int row;
        bool dark;
    };
    const Case cases[] = {
        {3, 3, true},  {2, 2, true},  {4, 4, true}, {5, 3, false}, {1, 3, false}, {3, 1, false},
        {3, 5, false}, {1, 1, false}, {6, 3, true}, {0, 3, true},  {3, 0, true},  {7, 3, false},
    };
    for (const Case& c : cases) {
        const Bgr colour = module_centre(*image, c.column, c.row);
        EXPECT_TRUE(c.dark ? dark(colour) : light(colour))
            << "module (" << c.column << ", " << c.row << ") is " << colour.b << ", " << colour.g
            << ", " << colour.r;
    }
    EXPECT_TRUE(light(pixel(*image, kQrLeft / 2, kQrTop / 2)));
    EXPECT_TRUE(
        light(pixel(*image, kInstructionsPictureWidth - 1, kInstructionsPictureHeight - 1)));
}

TEST(DecodeJpeg, PutsBlueGreenRedInThatOrderRowsTopDown) {
    // Four 8 px bands from the top: red, green, blue, white; 19 px wide so rows are not a
    // multiple of 4 bytes or of the 16 px a block row covers.
    Encoder encoder;
    const Bytes jpeg = encoder.encode(19, 32, 3, [](int, int y, int component) -> std::uint8_t {
        const int band = y / 8;
        return band == 3 || band == component ? 255 : 0;
    });
    const auto image = decode_jpeg(jpeg);
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->width, 19);
    ASSERT_EQ(image->height, 32);
    ASSERT_EQ(image->bgr.size(), std::size_t{19} * 32 * 3);
    const auto near = [](Bgr c, int b, int g, int r) {
        return std::abs(c.b - b) < 40 && std::abs(c.g - g) < 40 && std::abs(c.r - r) < 40;
    };
    EXPECT_TRUE(near(pixel(*image, 9, 3), 0, 0, 255));
    EXPECT_TRUE(near(pixel(*image, 9, 11), 0, 255, 0));
    EXPECT_TRUE(near(pixel(*image, 9, 19), 255, 0, 0));
    EXPECT_TRUE(near(pixel(*image, 18, 28), 255, 255, 255));
}

TEST(DecodeJpeg, TurnsGreyIntoEqualBlueGreenRed) {
    Encoder encoder;
    const Bytes jpeg =
        encoder.encode(10, 6, 1, [](int x, int, int) { return static_cast<std::uint8_t>(x * 25); });
    const auto image = decode_jpeg(jpeg);
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->bgr.size(), std::size_t{10} * 6 * 3);
    for (int x = 0; x < 10; ++x) {
        const Bgr c = pixel(*image, x, 2);
        EXPECT_EQ(c.b, c.g);
        EXPECT_EQ(c.g, c.r);
        EXPECT_NEAR(c.g, x * 25, 6);
    }
}

TEST(DecodeJpeg, RefusesCutShortData) {
    const Bytes& whole = instructions_picture();
    ASSERT_GT(whole.size(), 200U);
    const std::size_t lengths[] = {0, 2, 100, whole.size() / 2, whole.size() - 2};
    for (const std::size_t length : lengths) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(decode_jpeg(cut).has_value()) << "cut to " << length << " bytes";
    }
}

TEST(DecodeJpeg, RefusesADamagedFrameHeader) {
    // Bytes after the SOF0 marker and its length: precision, height (2), width (2), component
    // count, then each component's id, sampling factors and quantisation table. A larger height
    // or width than the compressed data holds must fail as surely as an impossible value.
    struct Case {
        std::size_t offset;
        std::uint8_t value;
        const char* what;
    };
    const Case cases[] = {
        {0, 12, "precision"},         {1, 0x10, "height, 4096 rows more"},
        {2, 0, "height, zero"},       {3, 0x10, "width, 4096 columns more"},
        {4, 0, "width, zero"},        {5, 0, "component count"},
        {5, 4, "component count"},    {7, 0x55, "sampling factors"},
        {8, 9, "quantisation table"},
    };
    const std::size_t sof = segment_offset(instructions_picture(), 0xC0) + 4;
    for (const Case& c : cases) {
        Bytes damaged = instructions_picture();
        damaged[sof + c.offset] = c.value;
        EXPECT_FALSE(decode_jpeg(damaged).has_value()) << c.what;
    }
}

TEST(DecodeJpeg, RefusesDamagedCompressedData) {
    const Bytes& whole = instructions_picture();
    const std::size_t sos = segment_offset(whole, 0xDA);
    const std::size_t scan =
        sos + 2 + static_cast<std::size_t>(whole[sos + 2] << 8 | whole[sos + 3]);
    const std::size_t middle = scan + (whole.size() - scan) / 2;

    Bytes flipped = whole;
    for (std::size_t at = middle; at < middle + 64; ++at) {
        flipped[at] = static_cast<std::uint8_t>(flipped[at] ^ 0x5A);
    }
    EXPECT_FALSE(decode_jpeg(flipped).has_value()) << "64 bytes flipped";

    // A marker in the middle of the compressed data ends it early.
    Bytes marked = whole;
    marked[middle] = 0xFF;
    marked[middle + 1] = 0xC4;
    EXPECT_FALSE(decode_jpeg(marked).has_value()) << "marker inserted";

    // Stray bytes between the end of the compressed data and the end marker; more of them than
    // the Huffman decoder reads ahead, which differs between 32- and 64-bit builds.
    Bytes padded = whole;
    padded.insert(padded.end() - 2, 32, 0x5A);
    EXPECT_FALSE(decode_jpeg(padded).has_value()) << "bytes before the end marker";
}

TEST(DecodeJpeg, RefusesDataThatIsNotAJpeg) {
    const Bytes png_start = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    const Bytes text(300, 'A');
    const Bytes soi_then_zeros = [] {
        Bytes bytes(300, 0);
        bytes[0] = 0xFF;
        bytes[1] = 0xD8;
        return bytes;
    }();
    const Bytes icon = read_asset("qinglan.ico");
    ASSERT_FALSE(icon.empty());
    for (const Bytes* bytes : {&png_start, &text, &soi_then_zeros, &icon}) {
        EXPECT_FALSE(decode_jpeg(*bytes).has_value());
    }
}

TEST(DecodeJpeg, RefusesPicturesOverTheSizeLimit) {
    // A real, complete grey picture one row taller than 8192 × 8192 pixels.
    Encoder encoder;
    const Bytes jpeg = encoder.encode(8192, 8193, 1, [](int, int, int) { return 255; });
    static_assert(std::uint64_t{8192} * 8193 > kMaxJpegPixels);
    EXPECT_FALSE(decode_jpeg(jpeg).has_value());
}

}  // namespace
}  // namespace qinglan
