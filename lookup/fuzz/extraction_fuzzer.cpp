// Feeds arbitrary page bytes through the extraction into an in-memory list and checks what must
// hold for every page: no crash, and one row per "<a" at a character start of the block, less
// one when the block ends with "<a".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "lookup/address_extraction.h"
#include "lookup/tests/memory_address_list.h"

namespace {

// Counts the delimiters that start a row, walking the block character by character: every "<a"
// at a character start, except one that ends the block.
std::size_t rows_expected(std::string_view block) {
    std::size_t count = 0;
    std::size_t i = 0;
    while (i + 2 <= block.size()) {
        if (block[i] == '<' && block[i + 1] == 'a') {
            i += 2;
            if (i < block.size()) {
                ++count;
            }
        } else {
            i += static_cast<unsigned char>(block[i]) >= 0x80 ? 2 : 1;
        }
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qinglan;
    const Bytes body(data, data + size);
    const Text page = bytes_to_text(body);
    const Text block = text_between(page, "<br>\xCF\xC2\xD4\xD8\xB5\xD8\xD6\xB7\xA3\xBA",
                                    "<td align=left class=\"mn STYLE4\">\r");
    qinglan::testing::MemoryAddressList list;
    list.rows.resize(3);  // rows of an earlier read are always replaced
    fill_address_list(block, list);
    // The read's own path through the body in place gives the same rows.
    qinglan::testing::MemoryAddressList in_place;
    extract_addresses(body, in_place);
    if (in_place.rows != list.rows) {
        std::abort();
    }

    if (list.rows.size() != rows_expected(block.bytes())) {
        std::abort();
    }
    for (const Text& caption : list.rows) {
        if (caption.bytes().size() > block.bytes().size()) {
            std::abort();
        }
    }
    return 0;
}
