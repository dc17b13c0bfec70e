#include "ui/control_table.h"

#include <string>

#include "ui/code_page.h"

namespace qinglan {

bool create_controls(HWND parent, std::span<const ControlDefinition> controls) {
    const auto font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
    for (const ControlDefinition& control : controls) {
        const std::wstring text = to_wide(control.text);
        HWND created = CreateWindowExW(control.extended_style, control.window_class, text.c_str(),
                                       WS_CHILD | WS_VISIBLE | control.style, control.left,
                                       control.top, control.width, control.height, parent,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
                                       GetModuleHandleW(nullptr), nullptr);
        if (created == nullptr) {
            return false;
        }
        SendMessageW(created, WM_SETFONT, font, FALSE);
    }
    return true;
}

}  // namespace qinglan
