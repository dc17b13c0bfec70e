// Texts are code-page-936 bytes; the window system speaks UTF-16. These convert between the two
// through code page 936 named explicitly, so nothing depends on the system's own code page.
#pragma once

#include <string>
#include <string_view>

#include "lookup/text.h"

namespace qinglan {

inline constexpr unsigned kTextCodePage = 936;

std::wstring to_wide(const Text& text);
Text from_wide(std::wstring_view wide);

}  // namespace qinglan
