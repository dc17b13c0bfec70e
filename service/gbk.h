// Text for the result page: HTML escaping and UTF-8 to code page 936 (GBK).
#pragma once

#include <string>
#include <string_view>

namespace qinglan::service {

// Escapes & < > " ' as character references and turns control bytes other than tab and line
// feed into spaces; every other byte stays as it is.
std::string html_escape(std::string_view text);

// Converts UTF-8 to code page 936 character by character with iconv. A character that code
// page 936 cannot hold becomes a numeric character reference ("&#9731;"); a byte that is not
// part of a valid UTF-8 sequence becomes "&#65533;", the replacement character.
std::string utf8_to_gbk(std::string_view utf8);

// html_escape, then utf8_to_gbk: a UTF-8 text as it is shown in the page's HTML.
std::string gbk_html(std::string_view utf8);

}  // namespace qinglan::service
