// The program's built-in resources: its icon and the instructions picture.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

namespace qinglan {

// The application icon in the size the system uses for large or small icons. Shared icons,
// owned by the system.
HICON application_icon_large();
HICON application_icon_small();

// Sets both icons of a window.
void set_application_icons(HWND window);

// The bytes of the built-in instructions picture (a JPEG); empty if it is missing.
std::span<const std::uint8_t> instructions_picture_bytes();

}  // namespace qinglan
