#include "ui/message_loop.h"

#include <cwchar>

#include "ui/window_classes.h"

namespace qinglan {
namespace {

bool is_key_down(int key) {
    return GetKeyState(key) < 0;
}

bool any_modifier_down() {
    return is_key_down(VK_SHIFT) || is_key_down(VK_CONTROL) || is_key_down(VK_MENU);
}

// The top-level window of the tool that the message is for, or null for any other window.
HWND own_top_level_window(HWND target) {
    HWND root = GetAncestor(target, GA_ROOT);
    wchar_t class_name[64] = {};
    if (root == nullptr || GetClassNameW(root, class_name, 64) == 0) {
        return nullptr;
    }
    const bool own = std::wcscmp(class_name, kMainWindowClass) == 0 ||
                     std::wcscmp(class_name, kInstructionsWindowClass) == 0;
    return own ? root : nullptr;
}

bool is_edit_box(HWND window) {
    wchar_t class_name[16] = {};
    return GetClassNameW(window, class_name, 16) != 0 && _wcsicmp(class_name, L"Edit") == 0;
}

void dispatch(MSG& message) {
    if (!handle_window_keys(message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

bool handle_window_keys(MSG& message) {
    if (message.message != WM_KEYDOWN) {
        return false;
    }
    HWND window = own_top_level_window(message.hwnd);
    if (window == nullptr) {
        return false;
    }
    switch (message.wParam) {
        case VK_ESCAPE:
            if (any_modifier_down()) {
                return false;
            }
            SendMessageW(window, WM_CLOSE, 0, 0);
            return true;
        case VK_RETURN:
            return true;  // no default button, and the focus stays where it is
        case VK_TAB:
            return IsDialogMessageW(window, &message) != FALSE;
        case 'A':
            // Ctrl+A selects the whole address, as it does in the system's newer edit boxes.
            if (is_key_down(VK_CONTROL) && !is_key_down(VK_SHIFT) && !is_key_down(VK_MENU) &&
                is_edit_box(message.hwnd)) {
                SendMessageW(message.hwnd, EM_SETSEL, 0, -1);
                return true;
            }
            return false;
        default:
            return false;
    }
}

int run_message_loop() {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        dispatch(message);
    }
    return static_cast<int>(message.wParam);
}

void run_nested_message_loop(HWND window) {
    MSG message{};
    while (IsWindow(window)) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (got < 0) {
            return;
        }
        dispatch(message);
    }
}

}  // namespace qinglan
