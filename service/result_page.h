// The result page in the layout that the tool reads, in code page 936.
//
// The tool takes the text between the front marker "<br>下载地址：" and the back marker (a table
// cell start followed by a carriage return), splits it at every "<a", skips the first piece and
// takes each further piece from its 8th byte up to `" target="_blank"` as one address. So every
// address is written as `<a href="ADDRESS" target="_blank">LINK TEXT</a>`, the block holds no
// other "<a", and an address is written raw (the tool copies those bytes as they stand), with
// only the bytes that would end it early or break the list percent-encoded.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "service/resolution.h"

namespace qinglan::service {

// "<br>下载地址：" in code page 936.
inline constexpr std::string_view kFrontMarker = "<br>\xCF\xC2\xD4\xD8\xB5\xD8\xD6\xB7\xA3\xBA";
// The table cell after the block, with the carriage return that ends its line, and no line feed.
inline constexpr std::string_view kBackMarker = "<td align=left class=\"mn STYLE4\">\r";

// The address as it stands in the anchor: " < > space, control bytes, DEL and bytes of 0x80 and
// above percent-encoded, everything else (& = % ? # included) as it is.
std::string anchor_address(std::string_view url);

// The anchor's link text (UTF-8): the part for a video in several parts, then extension,
// format, resolution and size where known.
std::string link_text(const MediaAddress& address);

// The plain message for the page and the JSON answer (UTF-8); `time_limit` is named when the
// resolve timed out.
std::string outcome_message(const Resolution& resolution, std::chrono::milliseconds time_limit);

// The whole page, in code page 936. The block between the markers holds one anchor per address
// of an ok resolution and nothing else; the title and the message stand before the block.
std::string render_result_page(const Resolution& resolution, std::string_view message);

}  // namespace qinglan::service
