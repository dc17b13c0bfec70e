// Checks the text operations, and the extraction built on them, against plain models of their
// contracts: character starts found by walking the text one character at a time, positions
// counted the way the contracts say, and the extraction composed of those models step by step.
// Any input on which an operation and its model disagree aborts.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "lookup/address_extraction.h"
#include "lookup/tests/memory_address_list.h"

namespace {

using qinglan::Text;

// ---- The models, on std::string, written for plainness rather than speed.

bool is_lead(char byte) {
    return static_cast<unsigned char>(byte) >= 0x80;
}

std::string model_text(std::string_view bytes) {
    const std::size_t zero = bytes.find('\0');
    return std::string(zero == std::string_view::npos ? bytes : bytes.substr(0, zero));
}

// The 1-based position of the first `sought` that starts a character, or -1; an empty `sought`
// is found at 1 in any text but the empty one.
std::int64_t model_find(const std::string& searched, const std::string& sought) {
    if (sought.empty()) {
        return searched.empty() ? -1 : 1;
    }
    for (std::size_t i = 0; i < searched.size(); i += is_lead(searched[i]) ? 2 : 1) {
        if (searched.compare(i, sought.size(), sought) == 0) {
            return static_cast<std::int64_t>(i) + 1;
        }
    }
    return -1;
}

std::string model_mid(const std::string& text, std::int64_t start, std::int64_t count) {
    const auto length = static_cast<std::int64_t>(text.size());
    if (start < 1 || start > length || count <= 0) {
        return {};
    }
    std::string taken;
    for (std::int64_t i = start; i <= length && i < start + count; ++i) {
        taken += text[static_cast<std::size_t>(i - 1)];
    }
    return taken;
}

std::string model_left(const std::string& text, std::int64_t count) {
    return count <= 0 ? std::string() : model_mid(text, 1, count);
}

std::string model_lower(const std::string& text) {
    std::string lowered = text;
    for (std::size_t i = 0; i < lowered.size(); i += is_lead(lowered[i]) ? 2 : 1) {
        if (lowered[i] >= 'A' && lowered[i] <= 'Z') {
            lowered[i] = static_cast<char>(lowered[i] - 'A' + 'a');
        }
    }
    return lowered;
}

// Walks the text character by character; a delimiter at a character start ends a piece and
// the character after it starts the next one.
std::vector<std::string> model_split(const std::string& text, const std::string& delimiter) {
    std::vector<std::string> pieces;
    if (text.empty()) {
        return pieces;
    }
    if (delimiter.empty()) {
        return {text};
    }
    std::size_t piece_start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, delimiter.size(), delimiter) == 0) {
            pieces.push_back(text.substr(piece_start, i - piece_start));
            i += delimiter.size();
            piece_start = i;
        } else {
            i += is_lead(text[i]) ? 2 : 1;
        }
    }
    if (piece_start < text.size()) {
        pieces.push_back(text.substr(piece_start));
    }
    return pieces;
}

int model_compare(const std::string& first, const std::string& second) {
    for (std::size_t i = 0; i < first.size() && i < second.size(); ++i) {
        const auto a = static_cast<unsigned char>(first[i]);
        const auto b = static_cast<unsigned char>(second[i]);
        if (a != b) {
            return a < b ? -1 : 1;
        }
    }
    return first.size() == second.size() ? 0 : (first.size() < second.size() ? -1 : 1);
}

// The extraction's text_between, step by step on the models.
std::string model_between(const std::string& whole, const std::string& front,
                          const std::string& back) {
    const auto whole_length = static_cast<std::int64_t>(whole.size());
    const std::int64_t start = model_find(whole, front) + static_cast<std::int64_t>(front.size());
    const std::string rest = model_mid(whole, start, whole_length);
    return model_mid(rest, 1, model_find(rest, back) - 1);
}

// One row per piece after the first "<a", captioned with what follows ` href="`.
std::vector<std::string> model_rows(const std::string& block) {
    const std::vector<std::string> pieces = model_split(block, "<a");
    std::vector<std::string> rows;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        rows.push_back(model_between(pieces[i], "<a href=\"", "\" target=\"_blank\""));
    }
    return rows;
}

// ---- Inputs built from bytes and the page's markers, so that matches are common.

const char* const kTokens[] = {
    "<a",
    "<a href=\"",
    "\" target=\"_blank\"",
    "<br>\xCF\xC2\xD4\xD8\xB5\xD8\xD6\xB7\xA3\xBA",  // "<br>下载地址："
    "<td align=left class=\"mn STYLE4\">\r",
    "\xCF\xC2",
};
const char kBytes[] = {'<', 'a', 'A', 'Z', 'z', '"', ' ', '\r', '\x80', '\xCF', '\xFF', '\0'};

std::string consume_bytes(FuzzedDataProvider& input, std::size_t max_parts) {
    std::string bytes;
    const std::size_t parts = input.ConsumeIntegralInRange<std::size_t>(0, max_parts);
    for (std::size_t i = 0; i < parts && input.remaining_bytes() > 0; ++i) {
        switch (input.ConsumeIntegralInRange(0, 3)) {
            case 0:
                bytes +=
                    kTokens[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kTokens) - 1)];
                break;
            case 1:
                bytes += static_cast<char>(input.ConsumeIntegral<std::uint8_t>());
                break;
            default:
                bytes +=
                    kBytes[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kBytes) - 1)];
                break;
        }
    }
    return bytes;
}

std::int32_t consume_position(FuzzedDataProvider& input, std::size_t length) {
    constexpr std::int32_t kExtremes[] = {std::numeric_limits<std::int32_t>::min(), -1, 0,
                                          std::numeric_limits<std::int32_t>::max()};
    if (input.ConsumeBool()) {
        return kExtremes[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kExtremes) - 1)];
    }
    return input.ConsumeIntegralInRange<std::int32_t>(-2, static_cast<std::int32_t>(length) + 2);
}

[[noreturn]] void disagree(const char* operation) {
    std::fprintf(stderr, "%s disagrees with its model\n", operation);
    std::abort();
}

void expect(bool agrees, const char* operation) {
    if (!agrees) {
        disagree(operation);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qinglan;
    FuzzedDataProvider input(data, size);
    const std::string raw_first = consume_bytes(input, 48);
    const std::string raw_second = consume_bytes(input, 4);
    const std::string raw_third = consume_bytes(input, 4);

    const Text first(raw_first);
    const Text second(raw_second);
    const Text third(raw_third);
    const std::string a = model_text(raw_first);
    const std::string b = model_text(raw_second);
    const std::string c = model_text(raw_third);
    expect(first.bytes() == a && second.bytes() == b && third.bytes() == c, "Text");
    expect(Text(raw_first.c_str()).bytes() == a, "Text from a C string");
    expect(bytes_to_text(Bytes(raw_first.begin(), raw_first.end())).bytes() == a, "bytes_to_text");
    expect(length_of_text(first) == static_cast<std::int32_t>(a.size()), "length_of_text");

    expect(find_in_text(first, second) == model_find(a, b), "find_in_text");
    expect(find_in_text(first, "<a") == model_find(a, "<a"), "find_in_text");

    const std::int32_t start = consume_position(input, a.size());
    const std::int32_t count = consume_position(input, a.size());
    expect(mid_text(first, start, count).bytes() == model_mid(a, start, count), "mid_text");
    expect(left_text(first, count).bytes() == model_left(a, count), "left_text");
    expect(lower_text(first).bytes() == model_lower(a), "lower_text");
    expect(join_texts(first, second).bytes() == a + b, "join_texts");
    expect(compare_texts(first, second) == model_compare(a, b), "compare_texts");
    expect(compare_texts(first, first) == 0, "compare_texts");

    const auto split_agrees = [](const Text& text, const Text& delimiter) {
        const TextArray pieces = split_on(text, delimiter);
        const std::vector<std::string> expected =
            model_split(std::string(text.bytes()), std::string(delimiter.bytes()));
        if (pieces.size() != expected.size()) {
            return false;
        }
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (pieces[i].bytes() != expected[i]) {
                return false;
            }
        }
        return true;
    };
    expect(split_agrees(first, second), "split_on");
    expect(split_agrees(first, "<a"), "split_on");

    expect(text_between(first, second, third).bytes() == model_between(a, b, c), "text_between");
    const std::string front = kTokens[3];
    const std::string back = kTokens[4];
    const Text block = text_between(first, front, back);
    expect(block.bytes() == model_between(a, front, back), "text_between");

    testing::MemoryAddressList list;
    list.rows = {"row of an earlier read"};
    fill_address_list(first, list);
    const std::vector<std::string> rows = model_rows(a);
    expect(list.rows.size() == rows.size(), "fill_address_list");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        expect(list.rows[i].bytes() == rows[i], "fill_address_list");
    }
    // The list is emptied first, then each row is added and captioned in turn.
    expect(list.calls.size() == 1 + 2 * rows.size() && list.calls.front() == "clear_rows",
           "fill_address_list");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        expect(list.calls[1 + 2 * i] == "append_row" &&
                   list.calls[2 + 2 * i] == "set_row_caption " + std::to_string(i) + " 0",
               "fill_address_list");
    }

    // The whole extraction from a body that may hold zero bytes: the first input, which stops
    // at its first zero byte, with the markers around it so that its block is often found.
    const std::string body_bytes = front + raw_first + back + raw_second;
    testing::MemoryAddressList extracted;
    extracted.rows = {"row of an earlier read"};
    extract_addresses(Bytes(body_bytes.begin(), body_bytes.end()), extracted);
    const std::vector<std::string> extracted_rows =
        model_rows(model_between(model_text(body_bytes), front, back));
    expect(extracted.rows.size() == extracted_rows.size(), "extract_addresses");
    for (std::size_t i = 0; i < extracted_rows.size(); ++i) {
        expect(extracted.rows[i].bytes() == extracted_rows[i], "extract_addresses");
    }
    expect(extracted.calls.size() == 1 + 2 * extracted_rows.size(), "extract_addresses");
    return 0;
}
