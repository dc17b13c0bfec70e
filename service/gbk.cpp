#include "service/gbk.h"

#include <iconv.h>

#include <cstdint>
#include <stdexcept>

namespace qinglan::service {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The length of the valid UTF-8 sequence at the start of `text` and its code point; a length of
// 0 means the first byte starts no valid sequence (overlong forms and surrogates included).
struct Decoded {
    std::size_t length;
    char32_t code_point;
};

Decoded decode_utf8(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) {
        return {1, lead};
    }
    std::size_t length = 0;
    char32_t code_point = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        code_point = lead & 0x1Fu;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        code_point = lead & 0x0Fu;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        code_point = lead & 0x07u;
        minimum = 0x10000;
    } else {
        return {0, 0};
    }
    if (text.size() < length) {
        return {0, 0};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return {0, 0};
        }
        code_point = (code_point << 6) | (byte(i) & 0x3Fu);
    }
    if (code_point < minimum || code_point > 0x10FFFF ||
        (code_point >= 0xD800 && code_point <= 0xDFFF)) {
        return {0, 0};
    }
    return {length, code_point};
}

std::string character_reference(char32_t code_point) {
    return "&#" + std::to_string(static_cast<std::uint32_t>(code_point)) + ";";
}

class GbkConverter {
  public:
    GbkConverter() : descriptor_(iconv_open("GBK", "UTF-8")) {
        if (descriptor_ == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error("iconv cannot convert UTF-8 to GBK");
        }
    }
    ~GbkConverter() { iconv_close(descriptor_); }
    GbkConverter(const GbkConverter&) = delete;
    GbkConverter& operator=(const GbkConverter&) = delete;

    // Appends the GBK bytes of one UTF-8 character; false when GBK has no such character.
    bool append(std::string_view character, std::string& out) {
        char in_buffer[4];
        character.copy(in_buffer, character.size());
        char out_buffer[8];
        char* in = in_buffer;
        std::size_t in_left = character.size();
        char* converted = out_buffer;
        std::size_t out_left = sizeof(out_buffer);
        iconv(descriptor_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        if (iconv(descriptor_, &in, &in_left, &converted, &out_left) ==
                static_cast<std::size_t>(-1) ||
            in_left != 0) {
            return false;
        }
        const auto written = static_cast<std::size_t>(converted - out_buffer);
        // Code page 936 has ASCII and two-byte characters with a lead byte of 0x81 or above;
        // anything else would upset a reader that steps through the page character by character.
        const auto first = static_cast<unsigned char>(out_buffer[0]);
        if (written == 0 || written > 2 || (written == 1 && first >= 0x80) ||
            (written == 2 && first < 0x81)) {
            return false;
        }
        out.append(out_buffer, written);
        return true;
    }

  private:
    iconv_t descriptor_;
};

}  // namespace

std::string html_escape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            default:
                // A control byte would break the page's lines, and a zero byte would end the page
                // for the tool, which reads only up to the first one.
                escaped +=
                    (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') ? ' ' : c;
        }
    }
    return escaped;
}

std::string utf8_to_gbk(std::string_view utf8) {
    GbkConverter converter;
    std::string out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        const Decoded decoded = decode_utf8(utf8);
        if (decoded.length == 0) {
            out += character_reference(kReplacement);
            utf8.remove_prefix(1);
            continue;
        }
        if (decoded.code_point < 0x80) {
            out += static_cast<char>(decoded.code_point);
        } else if (!converter.append(utf8.substr(0, decoded.length), out)) {
            out += character_reference(decoded.code_point);
        }
        utf8.remove_prefix(decoded.length);
    }
    return out;
}

std::string gbk_html(std::string_view utf8) {
    return utf8_to_gbk(html_escape(utf8));
}

}  // namespace qinglan::service
