// Decodes JPEG pictures held in memory into plain BGR pixels, without any window or GDI code, so
// the decoding can be tested on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qinglan {

// A decoded picture. Rows run top-down with 3 bytes per pixel in B, G, R order and no padding
// between rows, so bgr holds exactly width × height × 3 bytes.
struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;
};

// The largest picture decode_jpeg takes, in pixels; anything larger is refused before memory for
// its pixels is taken.
inline constexpr std::uint64_t kMaxJpegPixels = 64ULL * 1024 * 1024;

// Decodes a JPEG file's bytes. Returns nothing when the bytes are not a JPEG, are cut short or
// damaged (anything libjpeg warns about counts, so a truncated file is refused rather than shown
// half grey), when the picture has more than kMaxJpegPixels pixels, or when its colours cannot be
// turned into BGR (CMYK, for one). Grey pictures come out with B = G = R.
std::optional<DecodedImage> decode_jpeg(std::span<const std::uint8_t> jpeg_bytes);

}  // namespace qinglan
