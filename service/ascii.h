// Letter case in the ASCII range, for scheme names, host names and header values; bytes outside
// it (GBK included) are left as they are.
#pragma once

#include <cstddef>
#include <string_view>

namespace qinglan::service {

inline char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (ascii_lower(text[i]) != ascii_lower(prefix[i])) {
            return false;
        }
    }
    return true;
}

inline bool equals_ignoring_case(std::string_view text, std::string_view other) {
    return text.size() == other.size() && starts_with_ignoring_case(text, other);
}

}  // namespace qinglan::service
