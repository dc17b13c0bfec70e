// Turns the instructions picture, a JPEG, into a bitmap the window system can draw.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

#include "ui/win_handles.h"

namespace qinglan {

struct PictureBitmap {
    UniqueBitmap bitmap;  // empty when the picture could not be decoded
    int width = 0;
    int height = 0;
};

PictureBitmap decode_picture_bitmap(std::span<const std::uint8_t> jpeg_bytes);

}  // namespace qinglan
