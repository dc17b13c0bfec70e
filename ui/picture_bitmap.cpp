#include "ui/picture_bitmap.h"

#include <cstring>

#include "ui/jpeg_image.h"

namespace qinglan {

PictureBitmap decode_picture_bitmap(std::span<const std::uint8_t> jpeg_bytes) {
    const std::optional<DecodedImage> image = decode_jpeg(jpeg_bytes);
    if (!image) {
        return {};
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = image->width;
    info.bmiHeader.biHeight = -image->height;  // rows top-down, as decoded
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    UniqueBitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!bitmap || pixels == nullptr) {
        return {};
    }
    // Rows of a device-independent bitmap are padded to whole 32-bit words.
    const auto row_bytes = static_cast<std::size_t>(image->width) * 3;
    const std::size_t stride = (row_bytes + 3) & ~std::size_t{3};
    for (std::size_t row = 0; row < static_cast<std::size_t>(image->height); ++row) {
        std::memcpy(static_cast<std::uint8_t*>(pixels) + row * stride,
                    image->bgr.data() + row * row_bytes, row_bytes);
    }
    GdiFlush();
    return {std::move(bitmap), image->width, image->height};
}

}  // namespace qinglan
