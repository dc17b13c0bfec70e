// The text layer of the address lookup: code-page-936 byte strings and the operations on them
// that the extraction needs. Positions are 1-based and count bytes; a byte of 0x80 or above starts
// a double-byte character together with the byte after it. A failed search gives -1, an ordinary
// integer that callers compute with.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace qinglan {

// A byte string in code page 936 that ends at its first zero byte, so it never holds one.
// The empty text is an ordinary value; there is no "absent" text.
class Text {
  public:
    Text() = default;
    // Takes the bytes up to, not including, the first zero byte.
    Text(std::string_view bytes);  // NOLINT(google-explicit-constructor): texts are values
    Text(const char* bytes);       // NOLINT(google-explicit-constructor)
    Text(const std::string& bytes) : Text(std::string_view(bytes)) {}  // NOLINT

    std::string_view bytes() const { return bytes_; }
    const char* c_str() const { return bytes_.c_str(); }
    bool empty() const { return bytes_.empty(); }

    friend bool operator==(const Text&, const Text&) = default;

  private:
    std::string bytes_;
};

// Any bytes, zero bytes included: the body of an HTTP response.
using Bytes = std::vector<std::uint8_t>;

// The members of a split text, in the order in which they occur.
using TextArray = std::vector<Text>;

std::int32_t length_of_text(const Text& text);
std::int32_t find_in_text(const Text& searched, const Text& sought);
Text mid_text(const Text& text, std::int32_t start, std::int32_t count);
Text left_text(const Text& text, std::int32_t count);
Text lower_text(const Text& text);
Text join_texts(const Text& first, const Text& second);
TextArray split_on(const Text& text, const Text& delimiter);
Text bytes_to_text(const Bytes& bytes);
std::int32_t compare_texts(const Text& first, const Text& second);

// Lets test frameworks and logs show a text's bytes.
std::ostream& operator<<(std::ostream& out, const Text& text);

}  // namespace qinglan
