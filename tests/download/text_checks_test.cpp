// The small readers and checks the per-file download and the rules are built on.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <set>
#include <string>

#include "download/answer_judgement.h"
#include "download/fetch_file.h"
#include "download/file_download.h"
#include "download/rules/rule_text.h"
#include "download/safe_file_name.h"

namespace velnoria {
namespace {

TEST(ResponseChecks, WhatAnImagesHeadersSayAgainstIt) {
    struct Case {
        const char* block;
        const char* problem;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n", ""},
        {"HTTP/1.1 500 Internal Server Error\r\n\r\n", "HTTP 500"},
        {"HTTP/1.1 200 OK\r\nX-Note: Unable to complete request\r\n\r\n",
         "server error: Unable to complete request"},
        {"HTTP/1.1 200 OK\r\nX-Note: 500 Internal Server Error\r\n\r\n",
         "server error: 500 Internal Server Error"},
        // The markers are compared exactly, letter case and all.
        {"HTTP/1.1 200 OK\r\nX-Note: 500 internal server error\r\n\r\n", ""},
        {"HTTP/1.1 404 Not Found\r\n\r\n", "HTTP 404"},
        {"HTTP/1.1 399 Odd\r\n\r\n", ""},
        {"HTTP/1.1 400 Bad Request\r\n\r\n", "HTTP 400"},
        {"HTTP/2 403\r\n\r\n", "HTTP 403"},
        {"HTTP/1.0 301 Moved\r\n", ""},
        {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", "not an image: HTML page"},
        {"", ""},
        {"garbage", ""},
        {"HTTP/1.1 20 OK\r\n", ""},
        {"HTTP/1.1 2000 OK\r\n", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(answerProblem(c.block), c.problem) << c.block;
    }
}

TEST(ResponseChecks, ThePartsOfAFileAndThePausesServersAskFor) {
    const auto range = [](const char* value) {
        const auto read = readContentRange(value);
        if (!read) return std::string("none");
        return std::to_string(read->first) + "-" + std::to_string(read->last) + "/" +
               (read->complete ? std::to_string(*read->complete) : "*");
    };
    EXPECT_EQ(range("bytes 100-199/200"), "100-199/200");
    EXPECT_EQ(range("bytes 0-9/*"), "0-9/*");
    EXPECT_EQ(range("Bytes  5-9/10"), "5-9/10");
    for (const char* bad : {"", "bytes", "bytes 9-5/10", "bytes 0-9/5", "items 0-9/10",
                            "bytes -5/10", "bytes 0-x/10", "bytes 0-9"}) {
        EXPECT_EQ(range(bad), "none") << bad;
    }

    const auto now = std::chrono::system_clock::from_time_t(1'700'000'000);  // 2023-11-14 22:13:20
    const auto pause = [&](const std::string& block) {
        const auto read = retryPause(block, now);
        return read ? static_cast<long>(read->count()) : -1L;
    };
    EXPECT_EQ(pause("HTTP/1.1 429 Too Many\r\nRetry-After: 30\r\n"), 30);
    EXPECT_EQ(pause("HTTP/1.1 503 Busy\r\nRetry-After: 2\r\n"), 2);
    EXPECT_EQ(pause("HTTP/1.1 429 Too Many\r\nRetry-After: 1000\r\n"), 60);  // at most a minute
    EXPECT_EQ(pause("HTTP/1.1 429 Too Many\r\nRetry-After: Tue, 14 Nov 2023 22:13:50 GMT\r\n"), 30);
    EXPECT_EQ(pause("HTTP/1.1 429 Too Many\r\nRetry-After: Tue, 14 Nov 2023 22:00:00 GMT\r\n"),
              -1);  // already past
    EXPECT_EQ(pause("HTTP/1.1 429 Too Many\r\nRetry-After: soon\r\n"), -1);
    EXPECT_EQ(pause("HTTP/1.1 429 Too Many\r\n"), -1);
    EXPECT_EQ(pause("HTTP/1.1 500 Error\r\nRetry-After: 30\r\n"), -1);  // only 429 and 503
    EXPECT_EQ(pause("HTTP/1.1 200 OK\r\nRetry-After: 30\r\n"), -1);
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
        {"choices.conf", "_choices.conf"},
        // Turns of direction are the terminal's concern: the log shows them escaped.
        {"photo_\xe2\x80\xaegpj.exe", "photo_\xe2\x80\xaegpj.exe"},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(safeFileName(name), expected) << "name: " << name;
        EXPECT_FALSE(safeName(name).shortened) << "name: " << name;
    }
}

// What the file system takes: a name longer than 255 bytes less room for " (N)" is cut on a
// character's boundary, its extension kept, and the caller told.
TEST(SafeFileName, ALongNameIsCutToWhatTheFileSystemTakes) {
    const std::string a300(300, 'a');
    const std::string euro = "\xe2\x82\xac";  // three bytes
    std::string euros;
    while (euros.size() < 300) euros += euro;
    const struct {
        const char* what;
        std::string name;
        std::size_t longest;
        std::string expected;
        bool shortened;
    } cases[] = {
        {"just short enough", std::string(243, 'a') + ".jpg", 255, std::string(243, 'a') + ".jpg",
         false},
        {"a byte more", std::string(244, 'a') + ".jpg", 255, std::string(243, 'a') + ".jpg", true},
        {"300 bytes and an extension", a300 + ".jpeg", 255, std::string(242, 'a') + ".jpeg", true},
        {"no extension", a300, 255, std::string(247, 'a'), true},
        {"a dot at the start only", "." + a300, 255, "_" + std::string(246, 'a'), true},
        {"an extension too long to be one", "a." + a300, 255, "a." + std::string(245, 'a'), true},
        {"a cut between characters", euros + ".jpg", 255, euros.substr(0, 243) + ".jpg", true},
        {"a cut inside a character goes back to its start", "b" + euros + ".jpg", 255,
         "b" + euros.substr(0, 240) + ".jpg", true},
        {"the last part of an address", "http://h.test/dir/" + a300 + ".png", 255,
         std::string(243, 'a') + ".png", true},
        {"a file system that takes 143 bytes", a300 + ".jpg", 143, std::string(131, 'a') + ".jpg",
         true},
        {"a file system that takes 14 bytes", "abcdefghijkl.jpg", 14, "abcdefg", true},
        {"a name still unusable", a300 + "\x01.jpg", 255, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const SafeName safe = safeName(c.name, c.longest);
        EXPECT_EQ(safe.name, c.expected);
        EXPECT_EQ(safe.shortened, c.shortened);
        EXPECT_LE(safe.name.size(), c.longest - std::min(kNumberRoom, c.longest / 2));
    }
    // The save folder's own file system says how long a name may be.
    EXPECT_EQ(longestFileName(VELNORIA_SOURCE_DIR), 255u);
    EXPECT_EQ(longestFileName("/no/such/folder"), kLongestFileName);
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

    // A number that would make a name too long takes its room from the part before it.
    const std::set<std::string> long10 = {"abcd (2).x"};
    const std::pair<std::string, std::string> cut[] = {
        {"abcdefgh.x", "abcd (3).x"},
        {"abcdefghij", "abcdef (2)"},
        {"abc.x", "abc (2).x"},
        // Three-byte characters: the cut goes back to the start of the one it meets.
        {"\xe2\x82\xac\xe2\x82\xac.x", "\xe2\x82\xac (2).x"},
    };
    for (const auto& [name, expected] : cut) {
        const std::string chosen = unusedName(
            name, [&](const std::string& n) { return n == name || long10.count(n) > 0; }, 10);
        EXPECT_EQ(chosen, expected) << name;
        EXPECT_LE(chosen.size(), 10u);
    }
}

// Names whose numbered forms can meet: the downloads at once name them one after another.
TEST(SafeFileName, NumberedNamesShareTheFamilyOfTheirName) {
    const std::pair<std::string, std::string> cases[] = {
        {"a.jpg", "a.jpg"},           {"a (2).jpg", "a.jpg"},
        {"a (12) (3).jpg", "a.jpg"},  {"a (2)", "a"},
        {"x.tar (2).gz", "x.tar.gz"}, {"a (x).jpg", "a (x).jpg"},
        {"a ().jpg", "a ().jpg"},     {"a (2)b.jpg", "a (2)b.jpg"},
        {"a(2).jpg", "a(2).jpg"},     {"a (2)).jpg", "a (2)).jpg"},
        {"a ((2).jpg", "a ((2).jpg"}, {"(2).jpg", "(2).jpg"},
        {".hidden (2)", ".hidden"},
    };
    for (const auto& [name, family] : cases) EXPECT_EQ(nameFamily(name), family) << name;
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
