// The search at character starts that the text operations are built on, and where a text made
// from bytes ends, on bytes that are not copied, for the extraction's loops over one page.
#pragma once

#include <cstddef>
#include <string_view>

namespace qinglan::detail {

// The bytes that a Text made from `bytes` holds: those before the first zero byte.
inline std::string_view up_to_first_zero(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

// The first `sought` (not empty) in `text` at or after `from` that starts a character, counting
// characters from `boundary`, a position known to start one (boundary <= from); npos if none.
// A byte of 0x80 or above starts a double-byte character together with the byte after it.
std::size_t find_at_character_start(std::string_view text, std::string_view sought,
                                    std::size_t boundary, std::size_t from);

}  // namespace qinglan::detail
