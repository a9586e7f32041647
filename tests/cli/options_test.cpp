#include "cli/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velnoria {
namespace {

using Args = std::vector<std::string>;

TEST(Options, AcceptsOptionsInEitherForm) {
    const struct {
        Args args;
        std::optional<std::string> folder;
        std::optional<int> timeout;
        std::optional<std::int32_t> piece;
        std::string page;
    } cases[] = {
        {{"http://f.example/t"}, {}, {}, {}, "http://f.example/t"},
        {{"--save-folder", "pics", "page.html"}, "pics", {}, {}, "page.html"},
        {{"--save-folder=a b", "p"}, "a b", {}, {}, "p"},
        {{"--timeout", "0", "p"}, {}, 0, {}, "p"},
        {{"--timeout=255", "p"}, {}, 255, {}, "p"},
        {{"p", "--piece-size", "1"}, {}, {}, 1, "p"},
        {{"--piece-size=2147483647", "p"}, {}, {}, 2147483647, "p"},
        {{"--timeout", "+7", "--timeout", "9", "p"}, {}, 9, {}, "p"},
        {{"--", "--timeout"}, {}, {}, {}, "--timeout"},
        {{"-"}, {}, {}, {}, "-"},
        {{"  http://x/ "}, {}, {}, {}, "  http://x/ "},
    };
    for (const auto& c : cases) {
        const Options line = parseOptions(c.args);
        ASSERT_EQ(line.action, CliAction::Run) << line.error;
        EXPECT_EQ(line.saveFolder, c.folder);
        EXPECT_EQ(line.timeoutSeconds, c.timeout);
        EXPECT_EQ(line.pieceSize, c.piece);
        EXPECT_EQ(line.page, c.page);
    }
}

TEST(Options, ThreadOptions) {
    const struct {
        Args args;
        bool allPages;
        std::optional<int> maxPages;
    } cases[] = {
        {{"p"}, false, {}},
        {{"--all-pages", "p"}, true, {}},
        {{"--max-pages", "7", "p"}, true, 7},
        {{"--max-pages=100000", "--all-pages", "p"}, true, 100000},
    };
    for (const auto& c : cases) {
        const Options line = parseOptions(c.args);
        ASSERT_EQ(line.action, CliAction::Run) << line.error;
        EXPECT_EQ(line.allPages, c.allPages);
        EXPECT_EQ(line.maxPages, c.maxPages);
    }
}

TEST(Options, HelpAndVersionWinOverEverythingBeforeAnError) {
    EXPECT_EQ(parseOptions({"--help"}).action, CliAction::Help);
    EXPECT_EQ(parseOptions({"-h", "--bogus"}).action, CliAction::Help);
    EXPECT_EQ(parseOptions({"--version"}).action, CliAction::Version);
    EXPECT_EQ(parseOptions({"p", "--version"}).action, CliAction::Version);
    EXPECT_EQ(parseOptions({"--bogus", "--help"}).action, CliAction::UsageError);
}

TEST(Options, RefusesWhatItCannotUse) {
    const struct {
        Args args;
        std::string reason;
    } cases[] = {
        {{}, "no PAGE"},
        {{"   "}, "PAGE is empty"},
        {{"a", "b"}, "more than one PAGE"},
        {{"--bogus", "p"}, "unknown option --bogus"},
        {{"-x", "p"}, "unknown option -x"},
        {{"p", "--timeout"}, "needs a value"},
        {{"--save-folder=", "p"}, "--save-folder"},
        {{"--timeout", "256", "p"}, "0 to 255"},
        {{"--timeout", "-1", "p"}, "0 to 255"},
        {{"--timeout", "1.5", "p"}, "0 to 255"},
        {{"--timeout", "", "p"}, "0 to 255"},
        {{"--timeout", "99999999999999999999", "p"}, "0 to 255"},
        {{"--piece-size", "0", "p"}, "1 to 2147483647"},
        {{"--piece-size=2147483648", "p"}, "1 to 2147483647"},
        {{"--piece-size", "12abc", "p"}, "1 to 2147483647"},
        {{"--all-pages=yes", "p"}, "--all-pages takes no value"},
        {{"--max-pages", "0", "p"}, "1 to 100000"},
        {{"--max-pages", "100001", "p"}, "1 to 100000"},
        {{"--max-pages", "x", "p"}, "1 to 100000"},
        {{"--parallel", "0", "p"}, "1 to 16"},
        {{"--parallel", "17", "p"}, "1 to 16"},
        {{"--parallel=x", "p"}, "1 to 16"},
        {{"--skip-existing=1", "p"}, "--skip-existing takes no value"},
        {{"--retry-failed", "p"}, "--retry-failed takes no PAGE"},
    };
    for (const auto& c : cases) {
        const Options line = parseOptions(c.args);
        EXPECT_EQ(line.action, CliAction::UsageError) << c.reason;
        EXPECT_NE(line.error.find(c.reason), std::string::npos) << line.error;
        EXPECT_EQ(line.error.find('\n'), std::string::npos);
    }
}

}  // namespace
}  // namespace velnoria
