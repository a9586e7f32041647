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
        std::optional<std::string> rules = {};
        bool linkedImages = false;
        bool printTargets = false;
    } cases[] = {
        {{"http://f.example/t"}, {}, {}, {}, "http://f.example/t"},
        {{"--rules", "r.toml", "p"}, {}, {}, {}, "p", "r.toml"},
        {{"--rules=my rules.toml", "--rules", "last.toml", "p"}, {}, {}, {}, "p", "last.toml"},
        {{"p", "--linked-images"}, {}, {}, {}, "p", {}, true},
        {{"--print-targets", "--rules=r", "--linked-images", "p"},
         {},
         {},
         {},
         "p",
         "r",
         true,
         true},
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
        EXPECT_EQ(line.rulesFile, c.rules);
        EXPECT_EQ(line.linkedImages, c.linkedImages);
        EXPECT_EQ(line.printTargets, c.printTargets);
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
        {{"--linked-images", "--max-pages=3", "--rules", "r.toml", "--parallel=4", "p"}, true, 3},
    };
    for (const auto& c : cases) {
        const Options line = parseOptions(c.args);
        ASSERT_EQ(line.action, CliAction::Run) << line.error;
        EXPECT_EQ(line.allPages, c.allPages);
        EXPECT_EQ(line.maxPages, c.maxPages);
    }
}

TEST(Options, ArchiveTemplatesAndWatching) {
    const struct {
        Args args;
        bool archive;
        std::string archiveFile;
        std::string page;
        std::optional<std::string> folder = {};
        std::optional<std::string> name = {};
        std::optional<int> watch = {};
    } cases[] = {
        {{"p"}, false, "", "p"},
        {{"--archive", "p"}, true, "", "p"},
        {{"p", "--archive"}, true, "", "p"},
        {{"--archive", "mine.sqlite", "p"}, true, "mine.sqlite", "p"},
        {{"p", "--archive", "mine.sqlite"}, true, "mine.sqlite", "p"},
        {{"--archive=p", "q"}, true, "p", "q"},
        {{"--archive", "--all-pages", "p"}, true, "", "p"},
        {{"--archive", "--", "p"}, true, "", "p"},
        {{"--folder", "{host}/{title}", "--name={index:03} {name}.{ext}", "p"},
         false,
         "",
         "p",
         "{host}/{title}",
         "{index:03} {name}.{ext}"},
        {{"--watch", "30", "p"}, true, "", "p", {}, {}, 30},
        {{"--watch=10080", "--archive", "a.sqlite", "p"}, true, "a.sqlite", "p", {}, {}, 10080},
    };
    for (const auto& c : cases) {
        const Options line = parseOptions(c.args);
        ASSERT_EQ(line.action, CliAction::Run) << line.error;
        EXPECT_EQ(line.archive, c.archive) << c.args.front();
        EXPECT_EQ(line.archiveFile, c.archiveFile) << c.args.front();
        EXPECT_EQ(line.page, c.page) << c.args.front();
        EXPECT_EQ(line.folderTemplate, c.folder) << c.args.front();
        EXPECT_EQ(line.nameTemplate, c.name) << c.args.front();
        EXPECT_EQ(line.watchMinutes, c.watch) << c.args.front();
    }
    // Without a PAGE to tell it from, the argument after --archive is its FILE.
    const Options retry = parseOptions({"--retry-failed", "--archive", "a.sqlite"});
    ASSERT_EQ(retry.action, CliAction::Run) << retry.error;
    EXPECT_EQ(retry.archiveFile, "a.sqlite");
    EXPECT_TRUE(retry.retryFailed);
}

TEST(Options, SessionOptions) {
    const struct {
        Args args;
        std::optional<std::string> cookies;
        std::optional<std::string> userAgent;
        bool noReferer;
    } cases[] = {
        {{"p"}, {}, {}, false},
        {{"--cookies", "c.txt", "p"}, "c.txt", {}, false},
        {{"--cookies=my cookies.txt", "--no-referer", "p"}, "my cookies.txt", {}, true},
        {{"--user-agent", "Mozilla/5.0 (X11; Linux x86_64)\tGecko", "p"},
         {},
         "Mozilla/5.0 (X11; Linux x86_64)\tGecko",
         false},
        {{"--retry-failed", "--user-agent=UA/1", "--cookies", "c"}, "c", "UA/1", false},
    };
    for (const auto& c : cases) {
        const Options line = parseOptions(c.args);
        ASSERT_EQ(line.action, CliAction::Run) << line.error;
        EXPECT_EQ(line.cookiesFile, c.cookies);
        EXPECT_EQ(line.userAgent, c.userAgent);
        EXPECT_EQ(line.noReferer, c.noReferer);
    }
}

TEST(Options, CheckRulesNeedsAFileAndNoPage) {
    Options line = parseOptions({"--check-rules", "r.toml"});
    EXPECT_EQ(line.action, CliAction::CheckRules);
    EXPECT_EQ(line.checkRulesFile, "r.toml");
    line = parseOptions({"--rules", "a.toml", "--check-rules=b.toml"});
    EXPECT_EQ(line.action, CliAction::CheckRules);
    EXPECT_EQ(line.checkRulesFile, "b.toml");
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
        {{"--rules", "", "p"}, "--rules needs a file name"},
        {{"--rules"}, "option --rules needs a value"},
        {{"--check-rules="}, "--check-rules needs a file name"},
        {{"--check-rules", "r.toml", "p"}, "--check-rules takes no PAGE: p"},
        {{"--linked-images=yes", "p"}, "--linked-images takes no value"},
        {{"--print-targets=1", "p"}, "--print-targets takes no value"},
        {{"--print-targets"}, "no PAGE"},
        {{"--retry-failed", "--print-targets"}, "no --print-targets"},
        {{"--retry-failed", "--max-pages", "3"}, "no --all-pages"},
        {{"--archive=", "p"}, "--archive= needs a file name"},
        {{"--archive", "a.sqlite", "p", "q"}, "more than one PAGE given: q"},
        {{"--folder", "{titel}", "p"}, "--folder: unknown field \"{titel}\""},
        {{"--folder=../x", "p"}, "--folder: the folder \"../x\" must stay inside the save folder"},
        {{"--name", "{index}/{name}", "p"}, "--name: the file name \"{index}/{name}\" cannot"},
        {{"--name=", "p"}, "--name: the template is empty"},
        {{"--name", "{title:3}", "p"}, "only {page} and {index} take a width"},
        {{"--watch", "0", "p"}, "--watch must be a whole number of minutes from 1 to 10080"},
        {{"--watch", "10081", "p"}, "from 1 to 10080"},
        {{"--watch=soon", "p"}, "from 1 to 10080"},
        {{"--watch", "5", "--retry-failed"}, "--watch reads a PAGE: no --retry-failed"},
        {{"--watch", "5", "--print-targets", "p"}, "--watch downloads: no --print-targets"},
        {{"--cookies=", "p"}, "--cookies needs a file name"},
        {{"p", "--cookies"}, "option --cookies needs a value"},
        {{"--user-agent", "", "p"}, "--user-agent needs a text"},
        // A line end would add a header of its own to every request.
        {{"--user-agent", "UA/1\r\nX-Admin: 1", "p"}, "one line without control characters"},
        {{"--user-agent=UA/1\nX", "p"}, "one line without control characters"},
        {{"--user-agent=UA\x7f", "p"}, "one line without control characters"},
        {{"--no-referer=yes", "p"}, "--no-referer takes no value"},
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
