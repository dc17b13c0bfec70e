#include "ui/code_page.h"

#include <windows.h>

namespace qinglan {

std::wstring to_wide(const Text& text) {
    const std::string_view bytes = text.bytes();
    const int size = static_cast<int>(bytes.size());
    const int wide_size = MultiByteToWideChar(kTextCodePage, 0, bytes.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
    MultiByteToWideChar(kTextCodePage, 0, bytes.data(), size, wide.data(), wide_size);
    return wide;
}

Text from_wide(std::wstring_view wide) {
    const int size = static_cast<int>(wide.size());
    const int byte_size =
        WideCharToMultiByte(kTextCodePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(byte_size), '\0');
    WideCharToMultiByte(kTextCodePage, 0, wide.data(), size, bytes.data(), byte_size, nullptr,
                        nullptr);
    return Text(bytes);
}

}  // namespace qinglan
