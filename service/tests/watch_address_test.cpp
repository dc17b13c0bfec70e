// The watch-page address in the request: the raw kw value and what the resolver is given for it.
#include "service/watch_address.h"

#include <gtest/gtest.h>

namespace qinglan::service {
namespace {

TEST(RequestTarget, SplitsAtTheFirstQuestionMarkOnly) {
    struct Case {
        const char* target;
        const char* path;
        const char* query;
    };
    const Case cases[] = {
        {"/parse.php?kw=http://h/w?v=1?x", "/parse.php", "kw=http://h/w?v=1?x"},
        {"/parse.php", "/parse.php", ""},
        {"/parse.php?", "/parse.php", ""},
        {"/?kw=", "/", "kw="},
    };
    for (const Case& c : cases) {
        const RequestTarget target = split_request_target(c.target);
        EXPECT_EQ(target.path, c.path) << c.target;
        EXPECT_EQ(target.query, c.query) << c.target;
    }
}

TEST(RawKwValue, IsEverythingAfterTheFirstKwParameterUndecoded) {
    struct Case {
        const char* query;
        std::optional<std::string_view> kw;
    };
    const Case cases[] = {
        // The watch address's own & = ? % and even "kw=" stay in the value.
        {"kw=http://h/w?v=1&t=2&kw=3", "http://h/w?v=1&t=2&kw=3"},
        {"kw=http://h/a%20b%26c", "http://h/a%20b%26c"},
        {"kw=", ""},
        {"a=1&kw=http://h/?b=2", "http://h/?b=2"},
        {"kw=a=b==", "a=b=="},
        // "kw=" must start a parameter.
        {"xkw=1", std::nullopt},
        {"a=kw=1", std::nullopt},
        {"", std::nullopt},
        {"KW=1", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(raw_kw_value(c.query), c.kw) << c.query;
    }
}

TEST(PercentDecode, DecodesValidEscapesOnceAndKeepsTheRest) {
    EXPECT_EQ(percent_decode("http%3A%2F%2Fh%2Fw%3Fv%3D1%2525"), "http://h/w?v=1%25");
    EXPECT_EQ(percent_decode("%e4%b8%ad"), "\xE4\xB8\xAD");
    EXPECT_EQ(percent_decode("100%"), "100%");
    EXPECT_EQ(percent_decode("%2"), "%2");
    EXPECT_EQ(percent_decode("%zz%4"), "%zz%4");
}

TEST(NormaliseWatchAddress, GivesTheAddressThatIsResolved) {
    struct Case {
        const char* kw;
        const char* url;
    };
    const Case cases[] = {
        // As it came: the client's escapes stay escapes.
        {"http://h/w?v=1&t=2", "http://h/w?v=1&t=2"},
        {"https://h/w?id=a%26b&x=%E4%B8%AD", "https://h/w?id=a%26b&x=%E4%B8%AD"},
        {"HTTPS://H/W", "https://H/W"},
        {"hTTp://h/", "http://h/"},
        // Encoded as a whole by another client: decoded once.
        {"http%3A%2F%2Fh%2Fw%3Fv%3D1%26t%3D2", "http://h/w?v=1&t=2"},
        {"HTTPS%3a%2f%2fh%2fa%2520b", "https://h/a%20b"},
        // No scheme.
        {"h.example/w?v=1", "http://h.example/w?v=1"},
        {"localhost:8080/w", "http://localhost:8080/w"},
        {"127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"[::1]:80/w", "http://[::1]:80/w"},
        {"//h/w", "http://h/w"},
        // Blanks around it, raw or escaped, are dropped; inside they are escaped.
        {"%20%20http://h/w%0D%0A", "http://h/w"},
        {" \thttp://h/w \n", "http://h/w"},
        {"http://h/a b", "http://h/a%20b"},
        // Bytes that a URL cannot carry are escaped byte by byte; GBK bytes stay those bytes.
        {"http://h/\xD6\xD0\"<>", "http://h/%D6%D0%22%3C%3E"},
        {"http://h/\x01\x7F", "http://h/%01%7F"},
    };
    for (const Case& c : cases) {
        const WatchAddress address = normalise_watch_address(c.kw);
        EXPECT_EQ(address.problem, AddressProblem::none) << c.kw;
        EXPECT_EQ(address.url, c.url) << c.kw;
    }
}

TEST(NormaliseWatchAddress, RefusesOtherSchemesAndEmptyValues) {
    struct Case {
        const char* kw;
        AddressProblem problem;
    };
    const Case cases[] = {
        {"file:///etc/passwd", AddressProblem::not_http},
        {"FILE:///etc/passwd", AddressProblem::not_http},
        {"ftp://h/x", AddressProblem::not_http},
        {"javascript:alert(1)", AddressProblem::not_http},
        {"data:text/html,<video>", AddressProblem::not_http},
        {"mailto:a@h", AddressProblem::not_http},
        {"gopher://h:70/", AddressProblem::not_http},
        {"%20file:///etc/passwd", AddressProblem::not_http},
        {"", AddressProblem::empty},
        {"%20%20", AddressProblem::empty},
        {" \r\n", AddressProblem::empty},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(normalise_watch_address(c.kw).problem, c.problem) << c.kw;
    }
}

}  // namespace
}  // namespace qinglan::service
