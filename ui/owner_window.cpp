#include "ui/owner_window.h"

#include "ui/window_classes.h"

namespace qinglan {
namespace {

HWND current_owner = nullptr;

void register_owner_class() {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kOwnerWindowClass;
    RegisterClassExW(&window_class);  // fails harmlessly when already registered
}

}  // namespace

InvisibleOwnerWindow::InvisibleOwnerWindow() {
    register_owner_class();
    window_.reset(CreateWindowExW(WS_EX_TOOLWINDOW, kOwnerWindowClass, L"", WS_POPUP, 0, 0, 0, 0,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
    current_owner = window_.get();
}

InvisibleOwnerWindow::~InvisibleOwnerWindow() {
    if (current_owner == window_.get()) {
        current_owner = nullptr;
    }
}

HWND invisible_owner_window() {
    return current_owner;
}

}  // namespace qinglan
