// Percent-encoding of selected bytes: each byte for which the predicate holds is written as "%"
// and two capital hex digits, every other byte as it stands. Used for addresses on the wire and
// in result pages, where only the bytes that would break them are escaped.
#pragma once

#include <string>
#include <string_view>

namespace qinglan {

template <typename MustEscape>
std::string percent_encode_if(std::string_view bytes, MustEscape must_escape) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (must_escape(byte)) {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

}  // namespace qinglan
