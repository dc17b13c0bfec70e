#include "ui/shell_actions.h"

#include <shellapi.h>

#include <cstring>
#include <string>

#include "ui/code_page.h"
#include "ui/win_handles.h"

namespace qinglan {

bool is_web_address(const Text& address) {
    const Text lowered = lower_text(address);
    for (const char* scheme : {"http://", "https://", "ftp://"}) {
        if (lowered.bytes().starts_with(scheme)) {
            return true;
        }
    }
    return false;
}

bool may_hand_to_shell(const Text& address) {
    return address.bytes().empty() || is_web_address(address);
}

void open_in_shell(const Text& address) {
    if (!may_hand_to_shell(address)) {
        return;
    }
    const std::wstring wide = to_wide(address);
    ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void copy_text_to_clipboard(HWND owner, const Text& text) {
    const OpenClipboardSession clipboard(owner);
    if (!clipboard.is_open()) {
        return;
    }
    EmptyClipboard();
    const std::string_view bytes = text.bytes();
    UniqueGlobalMemory block(GlobalAlloc(GMEM_MOVEABLE, bytes.size() + 1));
    if (!block) {
        return;
    }
    {
        const GlobalLock lock(block.get());
        if (lock.data() == nullptr) {
            return;
        }
        auto* destination = static_cast<char*>(lock.data());
        std::memcpy(destination, bytes.data(), bytes.size());
        destination[bytes.size()] = '\0';
    }
    if (SetClipboardData(CF_TEXT, block.get()) != nullptr) {
        block.release();  // the clipboard owns it now
    }
}

}  // namespace qinglan
