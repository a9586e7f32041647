#include "download/failed_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/abrupt_end.h"
#include "tests/support/temp_folder.h"

namespace velnoria {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using testing::namesIn;
using testing::readFile;
using testing::TempFolder;
using testing::writeFile;

TEST(FailedList, ReadsAddressesAndKeepsEverythingElse) {
    using namespace std::string_literals;
    const struct {
        std::string text;
        Lines addresses;
        Lines other;
    } cases[] = {
        {"", {}, {}},
        {"\r\n\n  \t\r\n", {}, {}},
        {"http://a/1\r\nHTTPS://b/2\nhttp://a/1\r\n", {"http://a/1", "HTTPS://b/2"}, {}},
        {"  http://a/x y \t\r\n", {"http://a/x y"}, {}},
        {"http://a/\x01z\r\nftp://c/\r\njust words",
         {},
         {"http://a/\x01z", "ftp://c/", "just words"}},
        {"\0\x01\xff http://a/\r\n"s, {}, {"\0\x01\xff http://a/"s}},
        {"http://a/last-without-line-end", {"http://a/last-without-line-end"}, {}},
        // A lone CR ends a line, as an old editor writes them.
        {"http://a/cr\r\r\n", {"http://a/cr"}, {}},
        {"http://a/1\rhttp://a/2\rnotes\r", {"http://a/1", "http://a/2"}, {"notes"}},
        {"http://a/1\n\rhttp://a/2", {"http://a/1", "http://a/2"}, {}},
        // What an editor puts before the first line is no part of it.
        {"\xEF\xBB\xBFhttp://a/first\r\nhttp://a/2\r\n", {"http://a/first", "http://a/2"}, {}},
        {"\xEF\xBB\xBF\xEF\xBB\xBFhttp://a/1", {}, {"\xEF\xBB\xBFhttp://a/1"}},
        {"x\xEF\xBB\xBFhttp://a/1", {}, {"x\xEF\xBB\xBFhttp://a/1"}},
        // Only an address with a host can be asked for.
        {"http://\r\nhttp:///x\r\n", {}, {"http://", "http:///x"}},
    };
    for (const auto& c : cases) {
        const FailedList list = parseFailedList(c.text);
        EXPECT_EQ(list.addresses, c.addresses) << c.text;
        EXPECT_EQ(list.otherLines, c.other) << c.text;
        EXPECT_EQ(list.size, c.text.size());
    }
}

TEST(FailedList, AnAddressIsAppendedOnALineOfItsOwn) {
    const struct {
        const char* what;
        std::string before;  // "" and no file
        std::string url;
        std::string after;
    } cases[] = {
        {"no list yet", "", "http://a/1", "http://a/1\r\n"},
        {"a list as written", "http://a/1\r\n", "http://a/2", "http://a/1\r\nhttp://a/2\r\n"},
        {"a last line without its line end", "http://a/1", "http://a/2",
         "http://a/1\r\nhttp://a/2\r\n"},
        {"LF line ends", "http://a/1\n", "http://a/2", "http://a/1\nhttp://a/2\r\n"},
        {"lone CR line ends", "http://a/1\r", "http://a/2", "http://a/1\rhttp://a/2\r\n"},
        {"line ends inside the address", "", "http://a/1\r\nX-Evil: 1",
         "http://a/1%0D%0AX-Evil: 1\r\n"},
        {"no address", "notes", "", "notes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        if (!c.before.empty()) writeFile(folder / "failed.txt", c.before);
        EXPECT_EQ(appendToFailureLog(folder.path(), c.url), !c.url.empty());
        EXPECT_EQ(readFile(folder / "failed.txt"), c.after);
        // The list reads back with every address on it.
        if (!c.url.empty() && c.url.find('\r') == std::string::npos) {
            const auto addresses = parseFailedList(c.after).addresses;
            EXPECT_EQ(addresses.back(), c.url);
        }
    }
}

TEST(FailedList, ARetryReplacesTheListKeepingItsPermissions) {
    const struct {
        const char* what;
        std::string before;
        mode_t mode;
        Lines newList;         // the retry's, in the old list's order
        Lines logged;          // what the retry appended itself
        std::string appended;  // to the file meanwhile, in the order things ended
        std::string after;
    } cases[] = {
        {"private",
         "http://a/1\r\nhttp://a/2\r\n",
         0600,
         {"http://a/2"},
         {"http://a/2"},
         "http://a/2\r\n",
         "http://a/2\r\n"},
        {"shared with the group", "http://a/1\r\n", 0660, {"http://a/1"}, {}, "", "http://a/1\r\n"},
        {"readable by all, beyond the umask",
         "notes\r\nhttp://a/1\r\n",
         0664,
         {},
         {},
         "",
         "notes\r\n"},
        // The failure that came after a last line without its line end stands on its own line,
        // and no blank line is left where the two met.
        {"a last line without its line end",
         "notes\r\nhttp://a/1",
         0644,
         {"http://a/1"},
         {"http://a/1"},
         "\r\nhttp://a/1\r\n",
         "notes\r\nhttp://a/1\r\n"},
        // Downloads at once end in any order; the new list keeps the old one's.
        {"failures that ended in another order",
         "http://a/1\r\nhttp://a/2\r\nhttp://a/3\r\n",
         0644,
         {"http://a/1", "http://a/3"},
         {"http://a/3", "http://a/1"},
         "http://a/3\r\nhttp://a/1\r\n",
         "http://a/1\r\nhttp://a/3\r\n"},
        // What another job appended meanwhile is not the retry's to drop.
        {"another job's line",
         "http://a/1\r\nhttp://a/2\r\n",
         0644,
         {"http://a/2"},
         {"http://a/2"},
         "http://other.test/x\r\nhttp://a/2\r\n",
         "http://a/2\r\nhttp://other.test/x\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const fs::path file = folder / "failed.txt";
        writeFile(file, c.before);
        ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
        std::string error;
        const auto before = readFailedList(folder.path(), error);
        ASSERT_TRUE(before) << error;
        writeFile(file, c.before + c.appended);
        ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);

        ASSERT_TRUE(replaceFailedList(folder.path(), *before, c.newList, c.logged, error)) << error;
        EXPECT_EQ(readFile(file), c.after);
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.mode);
        EXPECT_EQ(namesIn(folder.path()), Lines{"failed.txt"});
    }
}

// A second Ctrl+C while the new list is written: the old list stays, and nothing beside it.
TEST(FailedList, AnAbruptEndDuringTheRewriteLeavesTheOldList) {
    TempFolder folder;
    std::string list;
    for (int i = 0; i < 2000; ++i) list += "http://a/" + std::to_string(i) + "\r\n";
    writeFile(folder / "failed.txt", list);
    std::string error;
    const auto before = readFailedList(folder.path(), error);
    ASSERT_TRUE(before) << error;
    EXPECT_EXIT(
        {
            testing::endAbruptlyWhenAFilePasses(list.size() / 2);
            replaceFailedList(folder.path(), *before, before->addresses, {}, error);
            std::exit(0);
        },
        ::testing::ExitedWithCode(testing::kEndedAbruptly), "");
    EXPECT_EQ(readFile(folder / "failed.txt"), list);
    EXPECT_EQ(namesIn(folder.path()), Lines{"failed.txt"});
}

}  // namespace
}  // namespace velnoria
