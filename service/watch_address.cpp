#include "service/watch_address.h"

#include <array>

#include "lookup/percent_encoding.h"
#include "service/ascii.h"

namespace qinglan::service {
namespace {

bool is_ascii_alpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_ascii_digit(char c) {
    return c >= '0' && c <= '9';
}

int hex_value(char c) {
    if (is_ascii_digit(c)) {
        return c - '0';
    }
    const char lower = ascii_lower(c);
    if (lower >= 'a' && lower <= 'f') {
        return lower - 'a' + 10;
    }
    return -1;
}

// Blanks that users paste around an address, raw or as the HTTP client escaped them.
constexpr std::array<std::string_view, 8> kBlanks = {" ",   "\t",  "\r",  "\n",
                                                     "%20", "%09", "%0D", "%0A"};

std::string_view trim_blanks(std::string_view text) {
    for (bool trimmed = true; trimmed && !text.empty();) {
        trimmed = false;
        for (const std::string_view blank : kBlanks) {
            if (starts_with_ignoring_case(text, blank)) {
                text.remove_prefix(blank.size());
                trimmed = true;
            }
            if (text.size() >= blank.size() &&
                starts_with_ignoring_case(text.substr(text.size() - blank.size()), blank)) {
                text.remove_suffix(blank.size());
                trimmed = true;
            }
        }
    }
    return text;
}

// The length of a leading "scheme:" (RFC 3986: a letter, then letters, digits, + - .), without
// the colon; 0 when the text does not start with one.
std::size_t scheme_length(std::string_view text) {
    if (text.empty() || !is_ascii_alpha(text[0])) {
        return 0;
    }
    std::size_t i = 1;
    while (i < text.size() && (is_ascii_alpha(text[i]) || is_ascii_digit(text[i]) ||
                               text[i] == '+' || text[i] == '-' || text[i] == '.')) {
        ++i;
    }
    return (i < text.size() && text[i] == ':') ? i : 0;
}

// "host:8080/x" or "host:" — what follows the colon is a port, so the text has no scheme.
bool colon_starts_port(std::string_view after_colon) {
    for (const char c : after_colon) {
        if (c == '/' || c == '?' || c == '#') {
            return true;
        }
        if (!is_ascii_digit(c)) {
            return false;
        }
    }
    return true;
}

bool must_be_escaped(unsigned char byte) {
    static constexpr std::string_view kUnsafe = " \"<>\\^`{|}";
    return byte < 0x20 || byte >= 0x7F || kUnsafe.find(static_cast<char>(byte)) != kUnsafe.npos;
}

}  // namespace

RequestTarget split_request_target(std::string_view target) {
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos) {
        return {target, {}};
    }
    return {target.substr(0, question), target.substr(question + 1)};
}

std::optional<std::string_view> raw_kw_value(std::string_view query) {
    constexpr std::string_view kKey = "kw=";
    for (std::size_t at = 0; at <= query.size();) {
        if (query.substr(at, kKey.size()) == kKey) {
            return query.substr(at + kKey.size());
        }
        const std::size_t amp = query.find('&', at);
        if (amp == std::string_view::npos) {
            break;
        }
        at = amp + 1;
    }
    return std::nullopt;
}

std::string percent_decode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
            hex_value(text[i + 2]) >= 0) {
            decoded += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

std::string escape_for_url(std::string_view text) {
    return percent_encode_if(text, must_be_escaped);
}

WatchAddress normalise_watch_address(std::string_view raw_kw) {
    std::string value(trim_blanks(raw_kw));
    if (starts_with_ignoring_case(value, "http%3A") ||
        starts_with_ignoring_case(value, "https%3A")) {
        value = std::string(trim_blanks(percent_decode(value)));
    }
    if (value.empty()) {
        return {{}, AddressProblem::empty};
    }
    const std::size_t scheme = scheme_length(value);
    if (scheme > 0) {
        std::string name = value.substr(0, scheme);
        for (char& c : name) {
            c = ascii_lower(c);
        }
        const std::string_view after_colon = std::string_view(value).substr(scheme + 1);
        if (name == "http" || name == "https") {
            value = name + ":" + std::string(after_colon);
        } else if (after_colon.substr(0, 2) == "//" || !colon_starts_port(after_colon)) {
            return {{}, AddressProblem::not_http};
        } else {
            value = "http://" + value;
        }
    } else if (value.substr(0, 2) == "//") {
        value = "http:" + value;
    } else {
        value = "http://" + value;
    }
    return {escape_for_url(value), AddressProblem::none};
}

}  // namespace qinglan::service
