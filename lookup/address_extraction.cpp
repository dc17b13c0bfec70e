#include "lookup/address_extraction.h"

#include <string_view>
#include <utility>

#include "lookup/character_search.h"
#include "lookup/service_hosts.h"

namespace qinglan {
namespace {

// The page layout of the address service, in code page 936.
// "<br>下载地址：" — the line that opens the block of download addresses.
constexpr const char* kFrontMarker = "<br>\xCF\xC2\xD4\xD8\xB5\xD8\xD6\xB7\xA3\xBA";
// The table cell that follows the block, with the carriage return that ends its line.
constexpr const char* kBackMarker = "<td align=left class=\"mn STYLE4\">\r";
constexpr const char* kAnchorDelimiter = "<a";
constexpr const char* kAddressStartMarker = "<a href=\"";
constexpr const char* kAddressEndMarker = "\" target=\"_blank\"";

constexpr std::size_t kNotFound = std::string_view::npos;
// Where text_between's rest begins in a text that lacks the address start marker: 1-based
// position length(marker) - 1.
constexpr std::size_t kCaptionFrom = std::string_view(kAddressStartMarker).size() - 2;

// find_in_text on a view, 0-based: the first `sought` that starts a character of `text`,
// counting characters from the view's first byte.
std::size_t find_in_view(std::string_view text, std::string_view sought) {
    if (sought.empty()) {
        return text.empty() ? kNotFound : 0;
    }
    return detail::find_at_character_start(text, sought, 0, 0);
}

// The end of text_between once its rest is known: the text before the first `back` after
// `rest_from`. A rest that starts after the last byte, a missing back text (found at -1) and one
// right at the start of the rest all give the empty text.
std::string_view view_from(std::string_view whole, std::size_t rest_from, std::string_view back) {
    if (rest_from >= whole.size()) {
        return {};
    }
    const std::string_view rest = whole.substr(rest_from);
    const std::size_t back_at = find_in_view(rest, back);
    return back_at == kNotFound ? std::string_view{} : rest.substr(0, back_at);
}

// text_between on views, without copying: the same steps on 0-based offsets. The view that
// comes back lies inside `whole`.
std::string_view view_between(std::string_view whole, std::string_view front,
                              std::string_view back) {
    const std::size_t front_at = find_in_view(whole, front);
    if (front_at != kNotFound) {
        return view_from(whole, front_at + front.size(), back);
    }
    // A missing front text counts as found at -1, so the rest begins at 1-based position
    // length(front) - 1: before the first byte for a front text shorter than two bytes.
    if (front.size() < 2) {
        return {};
    }
    return view_from(whole, front.size() - 2, back);
}

// The body as bytes_to_text turns it into a text, without the copy.
std::string_view text_view_of(const Bytes& body) {
    return detail::up_to_first_zero(
        std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
}

void fill_rows(std::string_view block, AddressList& list) {
    list.clear_rows();
    // The pieces of split_on(block, "<a"), visited in place instead of copied: each "<a" at a
    // character start ends a piece, scanning goes on right after it, and a block that ends with
    // "<a" has no empty last piece.
    const std::string_view delimiter = kAnchorDelimiter;
    std::size_t piece_start = 0;
    bool first_piece = true;
    const auto add_row_for = [&](std::string_view piece) {
        // The text before the first "<a" is no anchor.
        if (std::exchange(first_piece, false)) {
            return;
        }
        const std::int32_t row = list.append_row();
        // text_between(piece, start marker, end marker). A piece holds no "<a" at a character
        // start (each one ended a piece), so the start marker is never found in it and the
        // caption starts at the piece's 8th byte, right after ` href="`; no need to look.
        list.set_row_caption(row, 0, Text(view_from(piece, kCaptionFrom, kAddressEndMarker)));
    };
    if (block.empty()) {
        return;
    }
    for (;;) {
        const std::size_t at =
            detail::find_at_character_start(block, delimiter, piece_start, piece_start);
        if (at == kNotFound) {
            break;
        }
        add_row_for(block.substr(piece_start, at - piece_start));
        piece_start = at + delimiter.size();
    }
    if (piece_start < block.size()) {
        add_row_for(block.substr(piece_start));
    }
}

}  // namespace

Text service_base_address() {
    return join_texts(join_texts("http://", kAddressServiceHost), "/parse.php?kw=");
}

void read_addresses(const Text& watch_address, AddressList& list) {
    read_addresses_from(service_base_address(), watch_address, list);
}

void read_addresses_from(const Text& service_base, const Text& watch_address, AddressList& list,
                         const FetchLimits& limits) {
    Text request_address = join_texts(service_base, watch_address);
    extract_addresses(fetch_page(request_address, limits), list);
}

void extract_addresses(const Bytes& body, AddressList& list) {
    // The page and its block are looked at in place: a result page may be megabytes long, and
    // copying it twice would cost more than finding its anchors. Only the captions are copied.
    fill_rows(view_between(text_view_of(body), kFrontMarker, kBackMarker), list);
}

Text text_between(const Text& whole, const Text& front, const Text& back) {
    return Text(view_between(whole.bytes(), front.bytes(), back.bytes()));
}

void fill_address_list(const Text& block, AddressList& list) {
    fill_rows(block.bytes(), list);
}

}  // namespace qinglan
