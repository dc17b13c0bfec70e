#include "lookup/text.h"

#include <algorithm>
#include <cstring>

#include "lookup/character_search.h"

namespace qinglan {
namespace {

bool is_lead_byte(char byte) {
    return static_cast<unsigned char>(byte) >= 0x80;
}

// The first `sought` in `text` at or after `from`, as string_view::find gives it.
// The first byte of the page markers ('<', '"') occurs every few bytes of a page, so each
// candidate's second byte is compared in place before the rest is compared by a call.
std::size_t find_bytes(std::string_view text, std::string_view sought, std::size_t from) {
    const std::size_t length = sought.size();
    if (length == 0) {
        return from <= text.size() ? from : std::string_view::npos;
    }
    if (from >= text.size() || text.size() - from < length) {
        return std::string_view::npos;
    }
    const char* const begin = text.data();
    const char* const last = begin + (text.size() - length);  // the last place a match can start
    const char* at = begin + from;
    for (;;) {
        at = static_cast<const char*>(
            std::memchr(at, sought[0], static_cast<std::size_t>(last - at) + 1));
        if (at == nullptr) {
            return std::string_view::npos;
        }
        if (length == 1 ||
            (at[1] == sought[1] && std::memcmp(at + 2, sought.data() + 2, length - 2) == 0)) {
            return static_cast<std::size_t>(at - begin);
        }
        if (at == last) {
            return std::string_view::npos;
        }
        ++at;
    }
}

}  // namespace

namespace detail {

// Finds `sought` in `text` at or after `from`, but only where a character begins, counting
// characters from `boundary`, a position known to start one (boundary <= from).
//
// A fast byte search proposes candidates; whether a candidate starts a character is decided
// locally: it does exactly when the run of bytes of 0x80 and above just before it (looking back
// no further than the last known character start) has even length. Each step moves the known
// start forward, so the whole search stays linear however many candidates are rejected.
std::size_t find_at_character_start(std::string_view text, std::string_view sought,
                                    std::size_t boundary, std::size_t from) {
    for (;;) {
        const std::size_t candidate = find_bytes(text, sought, from);
        if (candidate == std::string_view::npos) {
            return candidate;
        }
        std::size_t run_start = candidate;
        while (run_start > boundary && is_lead_byte(text[run_start - 1])) {
            --run_start;
        }
        if ((candidate - run_start) % 2 == 0) {
            return candidate;
        }
        // The candidate is the second byte of a double-byte character, so the byte after it
        // starts the next one.
        boundary = candidate + 1;
        from = candidate + 1;
    }
}

}  // namespace detail

using detail::find_at_character_start;

Text::Text(std::string_view bytes) : bytes_(detail::up_to_first_zero(bytes)) {}

Text::Text(const char* bytes) : bytes_(bytes != nullptr ? bytes : "") {}

std::int32_t length_of_text(const Text& text) {
    return static_cast<std::int32_t>(text.bytes().size());
}

std::int32_t find_in_text(const Text& searched, const Text& sought) {
    if (sought.empty()) {
        return searched.empty() ? -1 : 1;
    }
    const std::size_t at = find_at_character_start(searched.bytes(), sought.bytes(), 0, 0);
    return at == std::string_view::npos ? -1 : static_cast<std::int32_t>(at) + 1;
}

Text mid_text(const Text& text, std::int32_t start, std::int32_t count) {
    const std::int64_t length = length_of_text(text);
    if (start < 1 || start > length || count <= 0) {
        return {};
    }
    const std::int64_t taken = std::min<std::int64_t>(count, length - start + 1);
    return Text(
        text.bytes().substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(taken)));
}

Text left_text(const Text& text, std::int32_t count) {
    if (count <= 0) {
        return {};
    }
    return Text(text.bytes().substr(0, static_cast<std::size_t>(count)));
}

Text lower_text(const Text& text) {
    std::string lowered(text.bytes());
    for (std::size_t i = 0; i < lowered.size(); ++i) {
        const char byte = lowered[i];
        if (is_lead_byte(byte)) {
            ++i;  // the second byte of a double-byte character is never changed
        } else if (byte >= 'A' && byte <= 'Z') {
            lowered[i] = static_cast<char>(byte + ('a' - 'A'));
        }
    }
    return Text(lowered);
}

Text join_texts(const Text& first, const Text& second) {
    std::string joined;
    joined.reserve(first.bytes().size() + second.bytes().size());
    joined.append(first.bytes()).append(second.bytes());
    return Text(joined);
}

TextArray split_on(const Text& text, const Text& delimiter) {
    TextArray pieces;
    if (text.empty()) {
        return pieces;
    }
    if (delimiter.empty()) {
        pieces.push_back(text);
        return pieces;
    }
    const std::string_view bytes = text.bytes();
    const std::size_t step = delimiter.bytes().size();
    std::size_t piece_start = 0;
    for (;;) {
        const std::size_t at =
            find_at_character_start(bytes, delimiter.bytes(), piece_start, piece_start);
        if (at == std::string_view::npos) {
            break;
        }
        pieces.emplace_back(bytes.substr(piece_start, at - piece_start));
        // Scanning goes on right after the delimiter, which counts as a character start.
        piece_start = at + step;
    }
    if (piece_start < bytes.size()) {
        pieces.emplace_back(bytes.substr(piece_start));
    }
    return pieces;
}

Text bytes_to_text(const Bytes& bytes) {
    // The constructor stops at the first zero byte (found with memchr) and copies once.
    return Text(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::int32_t compare_texts(const Text& first, const Text& second) {
    const int order = first.bytes().compare(second.bytes());
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace qinglan
