// The small readers and checks the per-file download and the rules are built on.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "download/content_length.h"
#include "download/response_checks.h"
#include "download/safe_file_name.h"
#include "download/text_ops.h"

namespace velnoria {
namespace {

TEST(ContentLength, OnlyPlainDecimalsInRange) {
    using namespace std::string_literals;
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

TEST(ResponseChecks, ErrorMarkersAndStatusCode) {
    struct Case {
        const char* block;
        bool marker;
        int status;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n", false, 200},
        {"HTTP/1.1 500 Internal Server Error\r\n\r\n", true, 500},
        {"HTTP/1.1 200 OK\r\nX-Note: Unable to complete request\r\n\r\n", true, 200},
        {"HTTP/1.1 200 OK\r\nX-Note: 500 internal server error\r\n\r\n", false, 200},
        {"HTTP/1.1 404 Not Found\r\n\r\n", false, 404},
        {"HTTP/2 403\r\n\r\n", false, 403},
        {"HTTP/1.0 301 Moved\r\n", false, 301},
        {"", false, 0},
        {"garbage", false, 0},
        {"HTTP/1.1 20 OK\r\n", false, 0},
        {"HTTP/1.1 2000 OK\r\n", false, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(holdsErrorMarker(c.block), c.marker) << c.block;
        EXPECT_EQ(statusLineCode(c.block), c.status) << c.block;
    }
}

TEST(SafeFileName, KeepsOnlyAPlainLastPart) {
    using namespace std::string_literals;
    const std::pair<std::string, std::string> cases[] = {
        {"photo.jpg", "photo.jpg"},
        {"../../etc/passwd", "passwd"},
        {"..\\..\\evil.jpg", "evil.jpg"},
        {"/abs/olute.jpg", "olute.jpg"},
        {"a\\b/c.jpg", "c.jpg"},
        {"dir/", ""},
        {"", ""},
        {".", ""},
        {"..", ""},
        {"x/..", ""},
        {"...", "..."},
        {"a\0b.jpg"s, ""},
        {"a\x01.jpg", ""},
        {"tab\t.jpg", ""},
        {"del\x7f.jpg", ""},
        {"caf\xc3\xa9.jpg", "caf\xc3\xa9.jpg"},
        {"name with spaces.jpg", "name with spaces.jpg"},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(safeFileName(name), expected) << "name: " << name;
    }
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

TEST(TextOps, ReplacementsAndPositions) {
    EXPECT_EQ(replaceAll("smith.th.jpg", "th.", ""), "smijpg");
    EXPECT_EQ(replaceAll("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(replaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(replaceFirst("1_2_3.jpg", "_", "/"), "1/2_3.jpg");
    EXPECT_EQ(replaceFirst("none", "_", "/"), "none");
    EXPECT_EQ(positionOf("abcabc", "ca"), 3u);
    EXPECT_EQ(positionOf("abc", "x"), 0u);
    EXPECT_EQ(fromPosition("abcdef", 3), "cdef");
    EXPECT_EQ(fromPosition("abcdef", 0), "abcdef");  // before the start: left whole
    EXPECT_EQ(fromPosition("abcdef", -11), "abcdef");
    EXPECT_EQ(fromPosition("abcdef", 7), "");
    EXPECT_EQ(firstChars("abcdef", 2), "ab");
    EXPECT_EQ(firstChars("ab", 9), "ab");
    EXPECT_EQ(trimSpaces("  http://x/ \t "), "http://x/ \t");
    EXPECT_EQ(trimSpaces("   "), "");
}

TEST(TextOps, OverflowingFieldStatementKeepsItsTarget) {
    std::string target = "previous";
    const std::string tooLong(40000, 'x');
    assignField(target, [&] { return retlast(tooLong, "/"); });
    EXPECT_EQ(target, "previous");
    assignField(target, [&] { return retlast("a/b.jpg", "/"); });
    EXPECT_EQ(target, "b.jpg");
}

}  // namespace
}  // namespace velnoria
