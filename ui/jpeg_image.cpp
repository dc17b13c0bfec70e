#include "jpeg_image.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h uses FILE and size_t without including their headers.
#include <new>
#include <utility>

#include <jpeglib.h>

namespace qinglan {
namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return. Here it jumps back
// to the setjmp of whichever step below is running. Warnings jump the same way, so damaged data is
// refused instead of being decoded with grey patches.
struct ErrorTrap {
    jpeg_error_mgr manager;  // first, so libjpeg's pointer to it also points at the whole trap
    std::jmp_buf jump;
};

[[noreturn]] void jump_out(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorTrap*>(info->err)->jump, 1);
}

// A negative level is a warning; other levels are trace messages, which are dropped.
void jump_out_on_warning(j_common_ptr info, int level) {
    if (level < 0) {
        jump_out(info);
    }
}

void stay_quiet(j_common_ptr) {}

// One libjpeg decompressor and the input it reads. Every libjpeg call that can fail is made in one
// of the step functions below. Each step sets the jump target first and holds no local objects
// with destructors, so jumping out of libjpeg back into it skips no clean-up; the decompressor
// itself lives in the caller's frame and is destroyed normally.
class Decompressor {
  public:
    explicit Decompressor(std::span<const std::uint8_t> input) : input_(input) {
        info_.err = jpeg_std_error(&trap_.manager);
        trap_.manager.error_exit = jump_out;
        trap_.manager.emit_message = jump_out_on_warning;
        trap_.manager.output_message = stay_quiet;
    }
    // Safe even if jpeg_create_decompress never ran or failed: libjpeg then has no memory to free.
    ~Decompressor() { jpeg_destroy_decompress(&info_); }

    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    jpeg_decompress_struct& info() { return info_; }
    std::jmp_buf& jump() { return trap_.jump; }
    std::span<const std::uint8_t> input() const { return input_; }

  private:
    std::span<const std::uint8_t> input_;
    ErrorTrap trap_{};
    jpeg_decompress_struct info_{};
};

bool read_header(Decompressor& decompressor) {
    if (setjmp(decompressor.jump()) != 0) {
        return false;
    }
    jpeg_decompress_struct& info = decompressor.info();
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, decompressor.input().data(),
                 static_cast<unsigned long>(decompressor.input().size()));
    return jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK;
}

bool start_decompress(Decompressor& decompressor) {
    if (setjmp(decompressor.jump()) != 0) {
        return false;
    }
    return jpeg_start_decompress(&decompressor.info()) != FALSE;
}

// Reads every row straight into pixels, which has room for output_height rows of row_bytes each,
// then reads on to the end of the file so damage after the last row is noticed too.
bool read_rows(Decompressor& decompressor, std::uint8_t* pixels, std::size_t row_bytes) {
    if (setjmp(decompressor.jump()) != 0) {
        return false;
    }
    jpeg_decompress_struct& info = decompressor.info();
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + static_cast<std::size_t>(info.output_scanline) * row_bytes;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) {
            return false;
        }
    }
    return jpeg_finish_decompress(&info) != FALSE;
}

#ifdef JCS_EXTENSIONS
// libjpeg-turbo writes B, G, R itself.
constexpr J_COLOR_SPACE kOutputColorSpace = JCS_EXT_BGR;
void rgb_to_bgr(std::vector<std::uint8_t>&) {}
#else
constexpr J_COLOR_SPACE kOutputColorSpace = JCS_RGB;
void rgb_to_bgr(std::vector<std::uint8_t>& pixels) {
    for (std::size_t at = 0; at + 2 < pixels.size(); at += 3) {
        std::swap(pixels[at], pixels[at + 2]);
    }
}
#endif

bool acceptable_size(const jpeg_decompress_struct& info) {
    return std::uint64_t{info.image_width} * info.image_height <= kMaxJpegPixels;
}

// Room for the decoded pixels, or nothing if there is not that much memory.
std::optional<std::vector<std::uint8_t>> allocate_pixels(std::size_t bytes) {
    try {
        return std::vector<std::uint8_t>(bytes);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<DecodedImage> decode_jpeg(std::span<const std::uint8_t> jpeg_bytes) {
    if (!std::in_range<unsigned long>(jpeg_bytes.size())) {
        return std::nullopt;
    }
    Decompressor decompressor(jpeg_bytes);
    jpeg_decompress_struct& info = decompressor.info();
    if (!read_header(decompressor) || !acceptable_size(info)) {
        return std::nullopt;
    }
    info.out_color_space = kOutputColorSpace;
    if (!start_decompress(decompressor) || info.output_components != 3) {
        return std::nullopt;
    }
    const std::size_t row_bytes = std::size_t{info.output_width} * 3;
    auto pixels = allocate_pixels(row_bytes * info.output_height);
    if (!pixels || !read_rows(decompressor, pixels->data(), row_bytes)) {
        return std::nullopt;
    }
    rgb_to_bgr(*pixels);
    return DecodedImage{static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                        std::move(*pixels)};
}

}  // namespace qinglan
