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
        {{"--rules", "", "p"}, "--rules needs a file name"},
        {{"--rules"}, "option --rules needs a value"},
        {{"--check-rules="}, "--check-rules needs a file name"},
        {{"--check-rules", "r.toml", "p"}, "--check-rules takes no PAGE: p"},
        {{"--linked-images=yes", "p"}, "--linked-images takes no value"},
        {{"--print-targets=1", "p"}, "--print-targets takes no value"},
        {{"--print-targets"}, "no PAGE"},
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
