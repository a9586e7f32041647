// The text helpers every part shares: blanks, letter case, and the values of HTTP answers.
#include "core/text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace velnoria {
namespace {

using namespace std::string_literals;

TEST(ContentLength, OnlyPlainDecimalsInRange) {
    const std::pair<std::string, std::optional<std::int32_t>> cases[] = {
        {"0", 0},
        {"1234", 1234},
        {" 42 ", 42},
        {"\t7", 7},
        {"00012", 12},
        {"2147483647", 2147483647},
        {"2147483648", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"  ", std::nullopt},
        {"-1", std::nullopt},
        {"+5", std::nullopt},
        {"12abc", std::nullopt},
        {"1 2", std::nullopt},
        {"0x10", std::nullopt},
        {"1.5", std::nullopt},
        {"5\0"s, std::nullopt},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(readContentLength(value), expected) << "value: " << value;
    }
}

TEST(StatusCode, ReadsOnlyAWellFormedStatusLine) {
    const std::pair<std::string, int> cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n", 200},
        {"HTTP/1.1 500 Internal Server Error\r\n\r\n", 500},
        {"HTTP/1.1 200 OK\r\nX-Note: Unable to complete request\r\n\r\n", 200},
        {"HTTP/1.1 200 OK\r\nX-Note: 500 internal server error\r\n\r\n", 200},
        {"HTTP/1.1 404 Not Found\r\n\r\n", 404},
        {"HTTP/2 403\r\n\r\n", 403},
        {"HTTP/1.0 301 Moved\r\n", 301},
        {"", 0},
        {"garbage", 0},
        {"HTTP/1.1 20 OK\r\n", 0},
        {"HTTP/1.1 2000 OK\r\n", 0},
        {"HTTP/1.1 206 Partial\r\n", 206},
        {"HTTP/1.1 2x0 Odd\r\n", 0},
        {"http/1.1 200 OK\r\n", 0},
        {"HTTP/1.1  302 Found\r\n", 302},
        {"X-Note: HTTP/1.1 200 OK\r\n", 0},
    };
    for (const auto& [block, status] : cases) EXPECT_EQ(statusCode(block), status) << block;
}

TEST(HeaderValue, FirstOfItsNameLetterCaseIgnored) {
    const std::string block =
        "HTTP/1.1 200 Content-Length: 7\r\nX-A:1\r\ncontent-length:\t 42 \r\nX-A: 2\r\n"
        "Content-Length: 43\r\nX-Nul: a\0b\r\n\r\n"s;
    struct Case {
        std::string name;
        std::string value;
    };
    for (const auto& c : std::vector<Case>{{"Content-Length", "42"},
                                           {"x-a", "1"},
                                           {"X-Nul", std::string("a\0b", 3)},
                                           {"X", ""},
                                           {"", ""}}) {
        EXPECT_EQ(headerValue(block, c.name), c.value) << c.name;
    }
}

TEST(TextHelpers, TrimAndLetterCase) {
    EXPECT_EQ(trim("  http://x/ \t ", " "), "http://x/ \t");
    EXPECT_EQ(trim("   ", " "), "");
    EXPECT_EQ(trim("\t 42 \t"), "42");
    EXPECT_TRUE(startsWithNoCase("Content-Length: 5", "content-length:"));
    EXPECT_FALSE(startsWithNoCase("Content", "content-length:"));
    EXPECT_TRUE(sameNoCase("X-Forwarded", "x-forwarded"));
    EXPECT_FALSE(sameNoCase("X-A", "X-AB"));
    EXPECT_FALSE(sameNoCase("\xc3\x89", "\xc3\xa9"));  // only ASCII letters fold
}

TEST(TextOps, MarkerSearchIgnoresLetterCaseOnly) {
    const std::tuple<std::string, std::string, std::size_t> cases[] = {
        {"abc_O.JPG", "_o.jpg", 4},
        {"<IMG SRC='x'", "<img src='", 1},
        {"x Alt=\"y\"", " alt=", 2},
        {"aaab", "aab", 2},
        {"AaAb", "aab", 2},
        {"no marker", "_o.jpg", 0},
        {"short", "longer than text", 0},
        {"", "x", 0},
        {"\xc3\x89t\xc3\xa9", "\xc3\xa9", 4},  // bytes outside ASCII compare exactly
        {"first _o.jpg then _O.jpg", "_o.jpg", 7},
    };
    for (const auto& [text, marker, expected] : cases) {
        EXPECT_EQ(positionIgnoringCase(text, marker), expected) << text << " / " << marker;
    }
}

}  // namespace
}  // namespace velnoria
