#include "ui/app_resources.h"

#include "ui/resource_ids.h"

namespace qinglan {
namespace {

HICON load_application_icon(int width_metric, int height_metric) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), TEXT(QINGLAN_ICON_NAME),
                                         IMAGE_ICON, GetSystemMetrics(width_metric),
                                         GetSystemMetrics(height_metric), LR_SHARED));
}

}  // namespace

HICON application_icon_large() {
    return load_application_icon(SM_CXICON, SM_CYICON);
}

HICON application_icon_small() {
    return load_application_icon(SM_CXSMICON, SM_CYSMICON);
}

void set_application_icons(HWND window) {
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(application_icon_large()));
    SendMessageW(window, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(application_icon_small()));
}

std::span<const std::uint8_t> instructions_picture_bytes() {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, TEXT(QINGLAN_PICTURE_NAME), MAKEINTRESOURCEW(10));
    if (found == nullptr) {
        return {};
    }
    HGLOBAL loaded = LoadResource(module, found);  // resources need no freeing
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) {
        return {};
    }
    return {static_cast<const std::uint8_t*>(data), SizeofResource(module, found)};
}

}  // namespace qinglan
