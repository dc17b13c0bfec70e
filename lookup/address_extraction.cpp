#include "lookup/address_extraction.h"

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
    const Bytes body = fetch_page(request_address, limits);
    const Text page = bytes_to_text(body);
    const Text block = text_between(page, kFrontMarker, kBackMarker);
    fill_address_list(block, list);
}

Text text_between(const Text& whole, const Text& front, const Text& back) {
    const std::int32_t whole_length = length_of_text(whole);
    const std::int32_t front_at = find_in_text(whole, front);
    const std::int32_t start = front_at + length_of_text(front);
    const Text rest = mid_text(whole, start, whole_length);
    const std::int32_t back_at = find_in_text(rest, back);
    return mid_text(rest, 1, back_at - 1);
}

void fill_address_list(const Text& block, AddressList& list) {
    list.clear_rows();
    const TextArray pieces = split_on(block, kAnchorDelimiter);
    // The text before the first "<a" is no anchor.
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::int32_t row = list.append_row();
        // The piece no longer holds its "<a", so the start marker is not found and the caption
        // starts at the piece's 8th byte, right after ` href="`.
        const Text caption = text_between(pieces[i], kAddressStartMarker, kAddressEndMarker);
        list.set_row_caption(row, 0, caption);
    }
}

}  // namespace qinglan
