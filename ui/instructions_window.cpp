#include "ui/instructions_window.h"

#include <commctrl.h>

#include <array>
#include <string>

#include "ui/app_resources.h"
#include "ui/code_page.h"
#include "ui/control_table.h"
#include "ui/message_loop.h"
#include "ui/owner_window.h"
#include "ui/window_classes.h"

namespace qinglan {
namespace {

constexpr int kOuterWidth = 466;
constexpr int kOuterHeight = 418;
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;  // fixed, close box only

// The controls in the client area, in pixels: left, top, width, height. None takes the focus.
constexpr std::array<ControlDefinition, 3> kControls{{
    // 标签1, the upper text, word-wrapped to the label's width.
    {kUpperTextId, WC_STATICW, SS_LEFT | SS_NOPREFIX, 0, 13, 8, 427, 120, kUpperText},
    // 图片框1, the picture box: drawn by the window, the picture at its own size.
    {kPictureBoxId, WC_STATICW, SS_OWNERDRAW, 0, 160, 136, 136, 136, ""},
    // 标签2, the lower text.
    {kLowerTextId, WC_STATICW, SS_LEFT | SS_NOPREFIX, 0, 8, 288, 448, 96, kLowerText},
}};

struct WindowsToDisable {
    HWND except;
    std::vector<std::pair<HWND, bool>>* disabled;
};

BOOL CALLBACK disable_if_unowned(HWND window, LPARAM context) {
    auto& job = *reinterpret_cast<WindowsToDisable*>(context);
    if (window != job.except && GetWindow(window, GW_OWNER) == nullptr && IsWindowVisible(window)) {
        job.disabled->emplace_back(window, IsWindowEnabled(window) != FALSE);
        EnableWindow(window, FALSE);
    }
    return TRUE;
}

}  // namespace

bool show_instructions_window() {
    return show_instructions_window_with_picture(instructions_picture_bytes());
}

bool show_instructions_window_with_picture(std::span<const std::uint8_t> jpeg_bytes) {
    InstructionsWindow window(jpeg_bytes);
    return window.show_modal();
}

InstructionsWindow::InstructionsWindow(std::span<const std::uint8_t> jpeg_bytes)
    : jpeg_bytes_(jpeg_bytes) {}

InstructionsWindow::~InstructionsWindow() {
    // Left by a quit message while open: nothing stays disabled behind it.
    restore_other_windows();
}

bool InstructionsWindow::show_modal() {
    if (!create_hidden()) {
        return false;
    }
    build_content();
    ShowWindow(handle(), SW_SHOWNORMAL);
    disable_other_windows();
    SetFocus(handle());
    run_nested_message_loop(handle());
    return true;
}

bool InstructionsWindow::create_hidden() {
    register_class(kInstructionsWindowClass, application_icon_large(), application_icon_small());
    const std::wstring caption = to_wide(kInstructionsWindowCaption);
    const RECT outer = centred_on_primary_screen(kOuterWidth, kOuterHeight);
    if (create_window(0, kInstructionsWindowClass, caption.c_str(), kFrameStyle, outer,
                      invisible_owner_window()) == nullptr) {
        return false;
    }
    RECT created{};
    GetWindowRect(handle(), &created);
    if (created.right - created.left != kOuterWidth ||
        created.bottom - created.top != kOuterHeight) {
        SetWindowPos(handle(), nullptr, outer.left, outer.top, kOuterWidth, kOuterHeight,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return true;
}

void InstructionsWindow::build_content() {
    set_application_icons(handle());
    SendMessageW(handle(), WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 FALSE);
    create_controls(handle(), kControls);
    picture_ = decode_picture_bitmap(jpeg_bytes_);
}

void InstructionsWindow::disable_other_windows() {
    WindowsToDisable job{handle(), &disabled_windows_};
    EnumThreadWindows(GetCurrentThreadId(), &disable_if_unowned, reinterpret_cast<LPARAM>(&job));
}

void InstructionsWindow::restore_other_windows() {
    for (const auto& [window, was_enabled] : disabled_windows_) {
        EnableWindow(window, was_enabled ? TRUE : FALSE);
    }
    disabled_windows_.clear();
}

void InstructionsWindow::close() {
    // The windows behind are enabled before this one goes, so that one of them is activated.
    restore_other_windows();
    DestroyWindow(handle());
}

LRESULT InstructionsWindow::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CLOSE:
            close();
            return 0;
        case WM_DESTROY:
            picture_ = {};
            return 0;
        case WM_CTLCOLORSTATIC:
            return label_colours(reinterpret_cast<HDC>(wparam));
        case WM_DRAWITEM:
            draw_picture(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
            return TRUE;
        default:
            return default_handling(message, wparam, lparam);
    }
}

LRESULT InstructionsWindow::label_colours(HDC dc) {
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

// The picture at its own size in the box's top-left corner, over the button-face background.
void InstructionsWindow::draw_picture(const DRAWITEMSTRUCT& item) const {
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    if (!picture_.bitmap) {
        return;
    }
    const UniqueMemoryDc source(CreateCompatibleDC(item.hDC));
    if (!source) {
        return;
    }
    const ScopedSelection selected(source.get(), picture_.bitmap.get());
    BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, picture_.width, picture_.height,
           source.get(), 0, 0, SRCCOPY);
}

}  // namespace qinglan
