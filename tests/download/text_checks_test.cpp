// The small readers and checks the per-file download and the rules are built on.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "download/fetch_file.h"
#include "download/rules/rule_text.h"
#include "download/safe_file_name.h"

namespace velnoria {
namespace {

TEST(ResponseChecks, ErrorMarkers) {
    struct Case {
        const char* block;
        bool marker;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n", false},
        {"HTTP/1.1 500 Internal Server Error\r\n\r\n", true},
        {"HTTP/1.1 200 OK\r\nX-Note: Unable to complete request\r\n\r\n", true},
        {"HTTP/1.1 200 OK\r\nX-Note: 500 internal server error\r\n\r\n", false},
        {"HTTP/1.1 404 Not Found\r\n\r\n", false},
        {"HTTP/2 403\r\n\r\n", false},
        {"HTTP/1.0 301 Moved\r\n", false},
        {"", false},
        {"garbage", false},
        {"HTTP/1.1 20 OK\r\n", false},
        {"HTTP/1.1 2000 OK\r\n", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(holdsErrorMarker(c.block), c.marker) << c.block;
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
        {"...", "_.."},
        {".profile", "_profile"},
        {"x/.ssh", "_ssh"},
        {"settings.dat", "_settings.dat"},
        {"Failed.TXT", "_Failed.TXT"},
        {"my settings.dat", "my settings.dat"},
        {"archive.sqlite", "_archive.sqlite"},
        {"Archive.SQLite-wal", "_Archive.SQLite-wal"},
        {"archive.sqlite-shm", "_archive.sqlite-shm"},
        {"archive.sqlite-journal", "_archive.sqlite-journal"},
        {"archive.sqlite.jpg", "archive.sqlite.jpg"},
        {"a\0b.jpg"s, ""},
        {"a\x01.jpg", ""},
        {"tab\t.jpg", ""},
        {"del\x7f.jpg", ""},
        {"caf\xc3\xa9.jpg", "caf\xc3\xa9.jpg"},
        {"nbsp\xc2\xa0"
         "and \xf0\x9f\x98\x80.jpg",
         "nbsp\xc2\xa0"
         "and \xf0\x9f\x98\x80.jpg"},
        {"csi\xc2\x9b.jpg", ""},            // C1 control
        {"nel\xc2\x85.jpg", ""},            // C1 control
        {"raw\x9b.jpg", ""},                // a lone continuation byte
        {"latin1 caf\xe9.jpg", ""},         // not UTF-8
        {"overlong\xc0\xaf.jpg", ""},       // "/" written long
        {"surrogate\xed\xa0\x80.jpg", ""},  // no character
        {"past\xf4\x90\x80\x80.jpg", ""},   // beyond U+10FFFF
        {"cut\xe2\x82", ""},                // a sequence cut short
        {"name with spaces.jpg", "name with spaces.jpg"},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(safeFileName(name), expected) << "name: " << name;
    }
}

TEST(SafeFileName, ANameSavedBeforeInTheJobGetsANumber) {
    const std::set<std::string> taken = {"a.jpg", "a (2).jpg", "noext", "_jpg", "x.tar.gz"};
    const std::pair<std::string, std::string> cases[] = {
        {"b.jpg", "b.jpg"},     {"a.jpg", "a (3).jpg"}, {"a (2).jpg", "a (2) (2).jpg"},
        {"noext", "noext (2)"}, {"_jpg", "_jpg (2)"},   {"x.tar.gz", "x.tar (2).gz"},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(unusedName(name, [&](const std::string& n) { return taken.count(n) > 0; }),
                  expected)
            << name;
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
}

TEST(TextOps, OverflowingFieldStatementKeepsItsTarget) {
    std::string target = "previous";
    const std::string tooLong(40000, 'x');
    assignField(target, [&] { return lastField(tooLong, "/"); });
    EXPECT_EQ(target, "previous");
    assignField(target, [&] { return lastField("a/b.jpg", "/"); });
    EXPECT_EQ(target, "b.jpg");
}

}  // namespace
}  // namespace velnoria
