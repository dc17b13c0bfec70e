// Child controls described by a table, one row per control, and created from it.
#pragma once

#include <windows.h>

#include <span>

namespace qinglan {

struct ControlDefinition {
    int id;
    const wchar_t* window_class;
    DWORD style;  // WS_CHILD and WS_VISIBLE are always added
    DWORD extended_style;
    int left;
    int top;
    int width;
    int height;
    const char* text;  // code page 936
};

// Creates every control in the parent's client area with the stock default GUI font.
// Returns false if any of them could not be created.
bool create_controls(HWND parent, std::span<const ControlDefinition> controls);

}  // namespace qinglan
