// The rules file reader: every fault at its place, the faulty rules left out, the rest kept, and
// files no person would write read without harm.
#include "download/rules/rules_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace velnoria {
namespace {

using testing::TempFolder;
using testing::writeFile;

std::vector<std::string> problemLines(const RulesFile& file) {
    std::vector<std::string> lines;
    for (const RuleProblem& problem : file.problems) lines.push_back(problem.text());
    return lines;
}

std::vector<std::string> ruleNames(const RulesFile& file) {
    std::vector<std::string> names;
    for (const FileRule& rule : file.rules->rules()) names.push_back(rule.name);
    return names;
}

const std::string kGood = R"([[rule]]
name = "good"
match = 'good\.test/(\w+)'
full = "http://good.test/big/$1"
)";

TEST(RulesFile, EachFaultIsReportedWhereItStandsAndItsRuleLeftOut) {
    struct Case {
        const char* what;
        std::string text;  // followed by a good rule, which must survive
        std::vector<std::string> problems;
    };
    const Case cases[] = {
        {"unknown key in a rule",
         "[[rule]]\nmatch = 'a'\nfull = 'http://a'\nfulll = 'x'\n",
         {"r.toml:4:1: unknown key `fulll`; a rule has name, match, full, page, find, file and "
          "on"}},
        {"unknown key at the top",
         "rules = 3\n",
         {"r.toml:1:1: unknown key `rules`; rules are written as [[rule]] tables"}},
        {"missing match",
         "[[rule]]\nname = \"x\"\nfull = 'http://a'\n",
         {"r.toml:1:1: rule \"x\" has no `match`"}},
        {"both full and a page search",
         "[[rule]]\nmatch = 'a'\nfull = 'http://a'\npage = 'http://p'\nfind = '(x)'\n",
         {"r.toml:1:1: rule \"rule 1\" has both `full` and a page search; a rule either rewrites "
          "the address (`full`) or searches a page (`page` and `find`)"}},
        {"neither full nor a page search",
         "[[rule]]\nmatch = 'a'\n",
         {"r.toml:1:1: rule \"rule 1\" has neither `full` nor `page` and `find`: it would not "
          "say where the full-size image is"}},
        {"page without find",
         "[[rule]]\nmatch = 'a'\npage = 'http://p'\n",
         {"r.toml:1:1: rule \"rule 1\" has `page` without `find`: what is searched for?"}},
        {"find without page",
         "[[rule]]\nmatch = 'a'\nfind = '(x)'\n",
         {"r.toml:1:1: rule \"rule 1\" has `find` without `page`: which page is searched?"}},
        {"a pattern RE2 refuses",
         "[[rule]]\nmatch = 'ab(c'\nfull = 'http://a'\n",
         {"r.toml:2:10: `match` is no pattern RE2 takes: missing ): ab(c"}},
        {"a backreference (no backtracking here)",
         "[[rule]]\nmatch = '(a)\\1'\nfull = 'http://a'\n",
         {"r.toml:2:13: `match` is no pattern RE2 takes: invalid escape sequence: \\1"}},
        {"$7 with three captures",
         "[[rule]]\nmatch = '(a)(b)(c)'\nfull = \"http://x/$1/$7\"\n",
         {"r.toml:3:21: `full`: `$7` names capture 7, but `match` has 3 captures"}},
        {"$0",
         "[[rule]]\nmatch = '(a)'\nfull = 'http://x/$0'\n",
         {"r.toml:3:18: `full`: `$0` is no capture; captures are numbered from 1"}},
        {"an unknown named capture",
         "[[rule]]\nmatch = '(?P<id>a)'\nfull = 'http://x/${idd}'\n",
         {"r.toml:3:18: `full`: `${idd}` names no capture of `match`"}},
        {"a name of find in the page address",
         "[[rule]]\nmatch = 'a'\npage = 'http://p/${u}'\nfind = '(?P<u>x)'\n",
         {"r.toml:3:18: `page`: `${u}` names no capture of `match`"}},
        {"a lone dollar",
         "[[rule]]\nmatch = 'a'\nfull = 'http://a/$x'\n",
         {"r.toml:3:18: `full`: a `$` that starts no capture (write `$$` for a dollar sign)"}},
        {"an unclosed ${",
         "[[rule]]\nmatch = 'a'\nfull = 'http://a/${x'\n",
         {"r.toml:3:18: `full`: `${` without its `}`"}},
        {"escapes before the fault give the value's start",
         "[[rule]]\nmatch = 'a'\nfull = \"http:\\u002F/a/$5\"\n",
         {"r.toml:3:8: `full`: `$5` names capture 5, but `match` has 0 captures"}},
        {"a rule that is not a table",
         "rule = [1, \"x\"]\n",
         {"r.toml:1:9: a rule must be a table, written [[rule]]; this is a whole number",
          "r.toml:1:12: a rule must be a table, written [[rule]]; this is a string"}},
        {"one bracket instead of two",
         "[rule]\nmatch = 'a'\nfull = 'http://a'\n",
         {"r.toml:1:1: `rule` is a table; rules are written as [[rule]] tables"}},
        {"a value of the wrong type",
         "[[rule]]\nmatch = 5\nfull = ['http://a']\n",
         {"r.toml:2:9: `match` must be a string; it is a whole number",
          "r.toml:3:8: `full` must be a string; it is an array"}},
        {"on neither image nor link",
         "[[rule]]\nmatch = 'a'\nfull = 'http://a'\non = 'page'\n",
         {"r.toml:4:6: `on` must be \"image\" or \"link\", not \"page\""}},
        {"an empty pattern",
         "[[rule]]\nmatch = ''\nfull = 'http://a'\n",
         {"r.toml:2:9: `match` is empty; it would take every address"}},
        {"find without a capture",
         "[[rule]]\nmatch = 'a'\npage = 'http://p'\nfind = 'x'\n",
         {"r.toml:4:8: `find` has no capture; its first capture is the full-size address"}},
        {"a template fault in the file name",
         "[[rule]]\nmatch = 'a'\npage = 'http://p'\nfind = '(?P<u>x)'\nfile = '${u}-${v}'\n",
         {"r.toml:5:14: `file`: `${v}` names no capture of `match` or `find`"}},
        {"a syntax error costs its own rule only",
         "[[rule]]\nname = \"broken\nmatch = 'a'\nfull = 'http://a'\n",
         {"r.toml:2:15: not TOML: Error while parsing string: unescaped control characters other "
          "than TAB (U+0009) are explicitly prohibited"}},
    };
    for (const Case& c : cases) {
        const RulesFile file = parseRulesText(c.text + "\n" + kGood, "r.toml");
        EXPECT_EQ(problemLines(file), c.problems) << c.what;
        EXPECT_EQ(ruleNames(file), std::vector<std::string>{"good"}) << c.what;
    }
}

TEST(RulesFile, GoodRulesAreReadAsWritten) {
    const RulesFile file = parseRulesText(R"toml(
[[rule]]
match = 'a(\d)'
full = "http://a/$1/$$"

[[rule]]
name = "  Spaced\tname  "
on = "link"
match = '(?P<id>\d+)'
page = 'http://p/${id}'
find = '<img src="(?P<src>[^"]+)"'
file = "${id}-${src}"
)toml",
                                          "r.toml");
    EXPECT_TRUE(file.problems.empty()) << problemLines(file).front();
    ASSERT_EQ(file.rules->rules().size(), 2u);
    const FileRule& rewrite = file.rules->rules()[0];
    EXPECT_EQ(rewrite.name, "rule 1");
    EXPECT_EQ(rewrite.line, 2);
    EXPECT_EQ(rewrite.subject, RuleSubject::Image);
    EXPECT_FALSE(rewrite.isPageSearch());
    const FileRule& search = file.rules->rules()[1];
    EXPECT_EQ(search.name, "Spaced name");
    EXPECT_EQ(search.line, 6);
    EXPECT_EQ(search.subject, RuleSubject::Link);
    EXPECT_TRUE(search.isPageSearch());
    EXPECT_TRUE(file.rules->testsLinks());
}

TEST(RulesFile, TheShippedExamplesHaveNoProblems) {
    const RulesFile file = readRulesFile(VELNORIA_SOURCE_DIR "/rules/example.toml");
    EXPECT_TRUE(file.problems.empty()) << problemLines(file).front();
    EXPECT_EQ(ruleNames(file),
              (std::vector<std::string>{"Example host", "View host", "Link host"}));
}

TEST(RulesFile, FilesNoPersonWouldWriteGiveAClearProblem) {
    TempFolder folder;
    const auto path = folder / "rules.toml";
    struct Case {
        const char* what;
        std::string bytes;  // written to the file
        std::string problem;
    };
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 167 + 13) % 256);
    std::string tooLarge;
    for (int i = 0; i < 1000; ++i) tooLarge += "(?:[a-z]{1000}|x)";
    const Case cases[] = {
        {"binary bytes", binary, ":1:1: not TOML: "},
        {"a NUL in a string", std::string("[[rule]]\nname = \"a\0b\"\n", 21), ":2:"},
        {"a pattern of 1 MB",
         "[[rule]]\nmatch = '" + std::string(1 << 20, 'a') + "'\nfull = 'http://a'\n",
         ":2:9: `match` is 1048576 bytes long; a pattern may have at most 65536"},
        {"nesting past any use", "x = " + std::string(100000, '[') + "\n", ":1:"},
        {"repetitions past RE2's bound",
         "[[rule]]\nmatch = '((((a{100}){100}){100}){100})'\nfull = 'http://a'\n",
         ":2:15: `match` is no pattern RE2 takes: invalid repetition size: {100}"},
        {"a pattern whose automaton would be too large",
         "[[rule]]\nmatch = '" + tooLarge + "'\nfull = 'http://a'\n",
         ":2:9: `match` is no pattern RE2 takes: pattern too large - compile failed"},
    };
    for (const Case& c : cases) {
        writeFile(path, c.bytes);
        const RulesFile file = readRulesFile(path);
        ASSERT_FALSE(file.problems.empty()) << c.what;
        EXPECT_EQ(file.problems.front().text().rfind(path.string() + c.problem, 0), 0u)
            << c.what << ": " << file.problems.front().text();
        EXPECT_TRUE(file.rules->empty()) << c.what;
    }

    // Not read at all: too long, not a file, missing.
    std::filesystem::resize_file(path, 100ull << 20);  // sparse, costs no disk
    EXPECT_EQ(problemLines(readRulesFile(path)),
              std::vector<std::string>{path.string() +
                                       ":1:1: is 104857600 bytes long; a rules file may have at "
                                       "most 8388608 (it is not read)"});
    EXPECT_EQ(problemLines(readRulesFile(folder.path(), "here")),
              std::vector<std::string>{"here:1:1: is not a file"});
    EXPECT_EQ(
        problemLines(readRulesFile(folder / "missing.toml", "missing.toml")),
        std::vector<std::string>{"missing.toml:1:1: cannot be read: No such file or directory"});
    const auto fifo = folder / "fifo.toml";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(problemLines(readRulesFile(fifo, "fifo")),
              std::vector<std::string>{"fifo:1:1: is not a file"});
}

TEST(RulesFile, TenThousandRulesAreReadAndOneMoreIsLeftOut) {
    std::string text;
    for (int i = 0; i <= 10000; ++i) {
        text += "[[rule]]\nname = \"r" + std::to_string(i) + "\"\nmatch = 'h" + std::to_string(i) +
                "\\.test/t/(\\w+)'\nfull = \"http://h" + std::to_string(i) + ".test/f/$1\"\n";
    }
    const auto start = std::chrono::steady_clock::now();
    const RulesFile file = parseRulesText(text, "many.toml");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(problemLines(file),
              std::vector<std::string>{"many.toml:40001:1: more than 10000 rules: this rule and "
                                       "those after it are left out"});
    ASSERT_EQ(file.rules->rules().size(), 10000u);
    // The last rule is found among all the others, and the first of two that match wins.
    const RuleSet::Taken taken = file.rules->firstTaking("http://h9999.test/t/pic", "");
    ASSERT_NE(taken.rule, nullptr);
    EXPECT_EQ(taken.rule->name, "r9999");
    EXPECT_EQ(file.rules->firstTaking("http://h1.test/t/a http://h0.test/t/b", "").rule->name,
              "r0");
    EXPECT_EQ(file.rules->firstTaking("http://h10000.test/t/pic", "").rule, nullptr);
    // Seconds, not minutes, even on a loaded machine under the sanitizers.
    EXPECT_LT(took, std::chrono::seconds(30));
}

TEST(RulesFile, ProblemsForAnErrorBoxAreCounted) {
    std::vector<RuleProblem> problems;
    for (int i = 1; i <= 25; ++i) problems.push_back({"r.toml", i, 1, "bad"});
    const std::string text = describeProblems(problems);
    EXPECT_EQ(text.rfind("The rules file has problems; the rules with problems are left out:\n\n"
                         "r.toml:1:1: bad\nr.toml:2:1: bad\n",
                         0),
              0u);
    EXPECT_NE(text.find("\nr.toml:20:1: bad\n... and 5 more."), std::string::npos);
    EXPECT_EQ(text.find("r.toml:21:1"), std::string::npos);
}

}  // namespace
}  // namespace velnoria
