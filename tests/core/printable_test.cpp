#include "core/printable.h"

#include <gtest/gtest.h>

#include <string>

namespace velnoria {
namespace {

TEST(PrintableText, ControlCharactersBrokenUtf8AndTurnsOfDirectionAreShownNotSent) {
    constexpr auto kWhole = std::string_view::npos;
    const struct {
        std::string text;
        std::string shown;
        std::size_t longest = kWhole;
    } cases[] = {
        {"http://h.test/a b.jpg", "http://h.test/a b.jpg"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"a\x1B[2Jb", "a\\x1B[2Jb"},
        {"tab\there\r\n", "tab\\x09here\\x0D\\x0A"},
        {std::string("nul\0", 4), "nul\\x00"},
        {"del\x7F", "del\\x7F"},
        {"csi \xC2\x9B"
         "31m",
         "csi \\xC2\\x9B31m"},  // C1 written as UTF-8
        {"first C1 \xC2\x80, last C1 \xC2\x9F, no-break space \xC2\xA0",
         "first C1 \\xC2\\x80, last C1 \\xC2\\x9F, no-break space \xC2\xA0"},
        {"latin1 \xE9t\xE9", "latin1 \\xE9t\\xE9"},    // not UTF-8
        {"overlong \xC0\xAF", "overlong \\xC0\\xAF"},  // "/" spelled long
        {"surrogate \xED\xA0\x80", "surrogate \\xED\\xA0\\x80"},
        {"cut \xE2\x82", "cut \\xE2\\x82"},
        // A name that shows "photo_gpj.exe" as "photo_exe.jpg" on a terminal.
        {"photo_\xE2\x80\xAEgpj.exe", "photo_\\u202Egpj.exe"},
        {"\xD8\x9C|\xE2\x80\x8E|\xE2\x80\x8F|\xE2\x80\xAA|\xE2\x80\xAB|\xE2\x80\xAC|\xE2\x80\xAD",
         "\\u061C|\\u200E|\\u200F|\\u202A|\\u202B|\\u202C|\\u202D"},
        {"\xE2\x81\xA6|\xE2\x81\xA7|\xE2\x81\xA8|\xE2\x81\xA9", "\\u2066|\\u2067|\\u2068|\\u2069"},
        // Their neighbours are ordinary characters.
        {"\xD8\x9B|\xE2\x80\x8D|\xE2\x80\x90|\xE2\x80\xA9|\xE2\x80\xAF|\xE2\x81\xA5|\xE2\x81\xAA",
         "\xD8\x9B|\xE2\x80\x8D|\xE2\x80\x90|\xE2\x80\xA9|\xE2\x80\xAF|\xE2\x81\xA5|\xE2\x81\xAA"},
        // A long text is cut between characters, never inside one.
        {"abcdef", "abc...", 3},
        {"abc", "abc", 3},
        {"a\xC3\xA9z", "a...", 2},
        {"a\xC3\xA9z", "a\xC3\xA9...", 3},
        {"a\xE2\x80\xAE", "a...", 3},
        {"a\xE2\x80\xAEz", "a\\u202E...", 4},
        {"a\x1B", "a\\x1B", 2},
        {"\xFF\xFF\xFF", "\\xFF...", 1},
        {"abc", "...", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(printableText(c.text, c.longest), c.shown) << c.shown;
        EXPECT_TRUE(isControlFreeUtf8(c.shown)) << c.shown;
    }
}

TEST(PrintableText, LinesKeepTheirLineEnds) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\r\nb\n", "a\r\nb\n"}, {"a\x1B\r\n\xE2\x80\xAE\n\rb", "a\\x1B\r\n\\u202E\n\\x0Db"},
        {"FAILED\r", "FAILED\r"}, {"no end\t", "no end\\x09"},
        {"\n\n", "\n\n"},         {"", ""},
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(printableLines(text), shown) << shown;
}

}  // namespace
}  // namespace velnoria
