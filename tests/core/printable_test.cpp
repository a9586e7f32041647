#include "core/printable.h"

#include <gtest/gtest.h>

#include <string>

namespace velnoria {
namespace {

TEST(PrintableText, ControlCharactersAndBrokenUtf8AreShownNotSent) {
    const struct {
        std::string text;
        std::string shown;
    } cases[] = {
        {"http://h.test/a b.jpg", "http://h.test/a b.jpg"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"a\x1B[2Jb", "a\\x1B[2Jb"},
        {"tab\there\r\n", "tab\\x09here\\x0D\\x0A"},
        {std::string("nul\0", 4), "nul\\x00"},
        {"del\x7F", "del\\x7F"},
        {"csi \xC2\x9B"
         "31m",
         "csi \\xC2\\x9B31m"},                         // C1 written as UTF-8
        {"latin1 \xE9t\xE9", "latin1 \\xE9t\\xE9"},    // not UTF-8
        {"overlong \xC0\xAF", "overlong \\xC0\\xAF"},  // "/" spelled long
        {"surrogate \xED\xA0\x80", "surrogate \\xED\\xA0\\x80"},
        {"cut \xE2\x82", "cut \\xE2\\x82"},
    };
    for (const auto& c : cases) EXPECT_EQ(printableText(c.text), c.shown) << c.shown;
}

}  // namespace
}  // namespace velnoria
