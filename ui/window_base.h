// The common frame of the tool's windows: one C++ object per window, kept with its HWND, and
// one handle_message of the derived class that sees every message.
#pragma once

#include <windows.h>

#include <string>

#include "lookup/text.h"
#include "ui/code_page.h"
#include "ui/win_handles.h"

namespace qinglan {

// The outer rectangle of a window of this size centred on the primary screen: each edge by
// integer division, truncating toward zero, and not clamped, so on a screen smaller than the
// window it starts partly off the screen.
inline RECT centred_on_primary_screen(int width, int height) {
    const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    return {left, top, left + width, top + height};
}

// A window's whole text, in code page 936.
inline Text window_text(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return from_wide(text);
}

template <typename Derived>
class WindowBase {
  public:
    HWND handle() const { return window_.get(); }

  protected:
    WindowBase() = default;
    // A window that outlives its object's derived part (a quit message while it is open, a
    // failed start) is destroyed here, after that part is gone: it is first detached, so the
    // messages of its destruction go to the default handling instead of the destroyed object.
    ~WindowBase() {
        if (window_) {
            SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
            window_.reset();
        }
    }
    WindowBase(const WindowBase&) = delete;
    WindowBase& operator=(const WindowBase&) = delete;

    // Registers the class on first use; the object is handed to WM_NCCREATE through the create
    // parameters and kept in the window's user data from then on.
    static ATOM register_class(const wchar_t* name, HICON large_icon, HICON small_icon) {
        WNDCLASSEXW window_class{};
        window_class.cbSize = sizeof(window_class);
        if (GetClassInfoExW(GetModuleHandleW(nullptr), name, &window_class)) {
            return 1;
        }
        window_class.lpfnWndProc = &WindowBase::procedure;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.hIcon = large_icon;
        window_class.hIconSm = small_icon;
        window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        window_class.lpszClassName = name;
        return RegisterClassExW(&window_class);
    }

    HWND create_window(DWORD extended_style, const wchar_t* class_name, const wchar_t* caption,
                       DWORD style, RECT outer, HWND owner) {
        return CreateWindowExW(extended_style, class_name, caption, style, outer.left, outer.top,
                               outer.right - outer.left, outer.bottom - outer.top, owner, nullptr,
                               GetModuleHandleW(nullptr), static_cast<Derived*>(this));
    }

    LRESULT default_handling(UINT message, WPARAM wparam, LPARAM lparam) {
        return DefWindowProcW(window_.get(), message, wparam, lparam);
    }

  private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message == WM_NCCREATE) {
            const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lparam);
            auto* self = static_cast<Derived*>(creation->lpCreateParams);
            self->window_.reset(window);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
        auto* self = reinterpret_cast<Derived*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self == nullptr) {
            return DefWindowProcW(window, message, wparam, lparam);
        }
        const LRESULT result = self->handle_message(message, wparam, lparam);
        if (message == WM_NCDESTROY) {
            // The window is gone: the object no longer owns it.
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            self->window_.release();
        }
        return result;
    }

    UniqueWindow window_;
};

}  // namespace qinglan
