// The rules file reader: every fault at its place, the faulty rules left out, the rest kept, and
// files no person would write read without harm.
#include "download/rules/rules_file.h"

#include <gtest/gtest.h>
#include <re2/re2.h>
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

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
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
         {"r.toml:4:1: unknown key `fulll`; a rule has name, match, full, page, find, file, on, "
          "cookies, visit, form, headers, referer, all, placeholder_sizes and "
          "placeholder_sha256"}},
        {"unknown key at the top",
         "rules = 3\n",
         {"r.toml:1:1: unknown key `rules`; rules are written as [[rule]] tables"}},
        {"missing match",
         "[[rule]]\nname = \"x\"\nfull = 'http://a'\n",
         {"r.toml:1:1: rule \"x\" has no `match`"}},
        {"full beside a page search names a capture of neither",
         "[[rule]]\nmatch = 'a'\npage = 'http://p'\nfind = '(?P<u>x)'\nfull = 'http://x/${v}'\n",
         {"r.toml:5:18: `full`: `${v}` names no capture of `match` or `find`"}},
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
        {"after a syntax error, problems keep their lines",
         "[[rule]]\nname = \"broken\nmatch = 'a'\nfull = 'http://a'\n"
         "[[rule]]\nmatch = 'b'\nfull = 'http://b/$2'\n",
         {"r.toml:2:15: not TOML: Error while parsing string: unescaped control characters other "
          "than TAB (U+0009) are explicitly prohibited",
          "r.toml:7:18: `full`: `$2` names capture 2, but `match` has 0 captures"}},
        {"inline tables nested too deeply",
         "[[rule]]\nmatch = 'a'\nfull = 'http://a'\nx = " + repeated("{ a = ", 40) + "1" +
             repeated(" }", 40) + "\n",
         {"r.toml:4:91: keys, tables and arrays nest more than 32 levels deep here; the rule it "
          "stands in is not read"}},
        {"a cookie name with a blank",
         "[[rule]]\nmatch = 'a'\nfull = 'http://a'\ncookies = 'a=1;a b=1'\n",
         {"r.toml:4:17: `cookies`: a cookie name may hold only letters, digits and "
          "!#$%&'*+-.^_`|~"}},
        {"a line break in a cookie",
         "[[rule]]\nmatch = 'a'\nfull = 'http://a'\ncookies = \"a=1\\r\\nX: y\"\n",
         {"r.toml:4:11: `cookies`: a line break in a cookie would end the header line"}},
        {"no cookie at all",
         "[[rule]]\nmatch = 'a'\nfull = 'http://a'\ncookies = ' ; '\n",
         {"r.toml:4:12: `cookies`: names no cookie; write name=value pairs"}},
        {"headers that are no table",
         "[[rule]]\nmatch = 'a'\npage = 'http://p'\nfind = '(x)'\nheaders = 'x'\n",
         {"r.toml:5:11: `headers` must be a table of names and values, as { \"X-Requested-With\" "
          "= \"XMLHttpRequest\" }; it is a string"}},
        {"headers that would inject or override",
         "[[rule]]\nmatch = 'a'\npage = 'http://p'\nfind = '(x)'\nheaders = { \"X Y\" = "
         "\"1\", Cookie = \"a=1\", Host = \"h\", X-A = \"a\\r\\nB: c\", X-B = 5, X-C = \"$3\", "
         "X-D = \"1\", x-d = \"2\" }\n",
         {"r.toml:5:13: `headers`: `X Y` is no header name (letters, digits and !#$%&'*+-.^_`|~ "
          "only)",
          "r.toml:5:26: `headers`: `Cookie` is written as the rule's `cookies`",
          "r.toml:5:42: `headers`: `Host` is the program's to send",
          "r.toml:5:60: `headers`: `X-A` holds a line break; it would cut the request apart",
          "r.toml:5:79: `headers`: the value of `X-B` must be a string; it is a whole number",
          "r.toml:5:89: `headers`: `X-C`: `$3` names capture 3, but `match` has 0 captures",
          "r.toml:5:105: `headers`: `x-d` is named twice"}},
        {"headers without a page request",
         "[[rule]]\nmatch = 'a'\nfull = 'http://a'\nheaders = { X-A = '1' }\n",
         {"r.toml:4:11: `headers` without `page` or `visit`: they go with the rule's page "
          "requests"}},
        {"a capture the referer does not have",
         "[[rule]]\nmatch = 'a'\nfull = 'http://a'\nreferer = 'http://r/$4'\n",
         {"r.toml:4:21: `referer`: `$4` names capture 4, but `match` has 0 captures"}},
        {"placeholders that are no sizes or hashes",
         "[[rule]]\nmatch = 'a'\nfull = 'http://a'\nplaceholder_sizes = [14396, -1, 'x']\n"
         "placeholder_sha256 = ['abc', 5]\n",
         {"r.toml:4:29: `placeholder_sizes`: a size is a whole number of bytes from 0; this is -1",
          "r.toml:4:33: `placeholder_sizes`: a size is a whole number of bytes from 0; this is a "
          "string",
          "r.toml:5:23: `placeholder_sha256`: a hash is 64 hexadecimal digits; this is \"abc\"",
          "r.toml:5:30: `placeholder_sha256`: a hash is 64 hexadecimal digits; this is a whole "
          "number"}},
        {"placeholder sizes that are no array",
         "[[rule]]\nmatch = 'a'\nfull = 'http://a'\nplaceholder_sizes = 14396\n",
         {"r.toml:4:21: `placeholder_sizes` must be an array; it is a whole number"}},
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

[[rule]]
name = "every key"
match = 'h\.test/(?P<id>\w+)'
cookies = " consent=yes;lang=en ;; "
visit = "http://h.test/home/$1"
page = "http://h.test/view/${id}"
form = "continue=1&id=$1"
headers = { "X-Requested-With" = "XMLHttpRequest", Accept = "image/*, ${id}" }
referer = ""
find = 'og:image" content="(?P<base>[^"]+)/small/(?P<rest>[^"]+)"'
full = "${base}/big/${rest}"
all = true
placeholder_sizes = [14396, 0]
placeholder_sha256 = ["9F86D081884C7D659A2FEAA0C55AD015A3BF4F1B2B0B822CD15D6C15B0F00A08"]

[[rule]]
name = "find without a capture beside full"
match = 'h\.test/(\w+)'
page = "http://h.test/view/$1"
find = 'og:image'
full = "http://h.test/big/$1.jpg"
visit = "http://h.test/"
headers = { X-A = "1" }
)toml",
                                          "r.toml");
    EXPECT_TRUE(file.problems.empty()) << problemLines(file).front();
    ASSERT_EQ(file.rules->rules().size(), 4u);
    for (const FileRule& plain : {file.rules->rules()[0], file.rules->rules()[1]}) {
        EXPECT_FALSE(plain.fullFromHit || plain.all || plain.visit || plain.form || plain.referer ||
                     plain.hasPlaceholders());
        EXPECT_TRUE(plain.cookies.empty() && plain.headers.empty());
    }
    const FileRule& every = file.rules->rules()[2];
    EXPECT_TRUE(every.isPageSearch());
    EXPECT_TRUE(every.fullFromHit);
    EXPECT_TRUE(every.all);
    EXPECT_EQ(every.cookies, "consent=yes; lang=en");
    ASSERT_EQ(every.headers.size(), 2u);
    EXPECT_EQ(every.headers[0].name, "Accept");  // as the TOML library orders keys
    EXPECT_EQ(every.headers[1].name, "X-Requested-With");
    EXPECT_TRUE(every.visit && every.form && every.referer);
    EXPECT_TRUE(every.referer->empty());
    EXPECT_EQ(every.placeholderSizes, (std::vector<std::uint64_t>{14396, 0}));
    EXPECT_EQ(every.placeholderSha256,
              std::vector<std::string>{
                  "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08"});
    const FileRule& noCapture = file.rules->rules()[3];
    EXPECT_TRUE(noCapture.fullFromHit);
    EXPECT_FALSE(noCapture.all);
    EXPECT_EQ(noCapture.headers.size(), 1u);
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
              (std::vector<std::string>{"Example host", "View host", "Link host", "Cookie host",
                                        "First-visit host", "Continue host", "Small-to-big host",
                                        "Album host", "Placeholder host"}));
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
        // Each of these took the TOML library past the end of its stack.
        {"a table header of 35,000 parts", "[k" + repeated(".k", 35000) + "]\n",
         ":1:66: keys, tables and arrays nest more than 32 levels deep here"},
        {"a dotted key of 35,000 parts", "x" + repeated(".x", 35000) + ".y = 1\n",
         ":1:65: keys, tables and arrays nest more than 32 levels deep here"},
        {"a rule table header of 35,000 parts", "[[rule" + repeated(".k", 35000) + "]]\n",
         ":1:68: keys, tables and arrays nest more than 32 levels deep here"},
        {"inline tables 35,000 deep", "x = " + repeated("{a=", 35000) + "1" + repeated("}", 35000),
         ":1:51: keys, tables and arrays nest more than 32 levels deep here"},
        {"arrays of inline tables 35,000 deep",
         "[[rule]]\nx = " + repeated("[{a=", 35000) + "1" + repeated("}]", 35000),
         ":2:43: keys, tables and arrays nest more than 32 levels deep here; the rule it stands in "
         "is not read"},
    };
    for (const Case& c : cases) {
        writeFile(path, c.bytes);
        const RulesFile file = readRulesFile(path);
        ASSERT_FALSE(file.problems.empty()) << c.what;
        EXPECT_EQ(file.problems.front().text().rfind(path.string() + c.problem, 0), 0u)
            << c.what << ": " << file.problems.front().text();
        EXPECT_TRUE(file.rules->empty()) << c.what;
    }

    // A file of exactly the largest size is read; one byte more is not.
    std::string largest = kGood + "#";
    largest += std::string(kMaxRulesFileBytes - largest.size() - 1, 'x') + "\n";
    writeFile(path, largest);
    const RulesFile whole = readRulesFile(path);
    EXPECT_TRUE(whole.problems.empty()) << problemLines(whole).front();
    EXPECT_EQ(ruleNames(whole), std::vector<std::string>{"good"});
    writeFile(path, largest + "\n");
    EXPECT_EQ(problemLines(readRulesFile(path)),
              std::vector<std::string>{path.string() +
                                       ":1:1: is 8388609 bytes long; a rules file may have at "
                                       "most 8388608 (it is not read)"});

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

TEST(RulesFile, ThePatternsOfAFileCompileWithinABound) {
    // Each `match` compiles to about 48,000 instructions, and counts twice: the twenty-first
    // rule passes the bound of the file.
    std::string text;
    for (int i = 1; i <= 25; ++i) {
        text += "[[rule]]\nname = \"r" + std::to_string(i) + "\"\nmatch = 'x" + std::to_string(i) +
                "-" + repeated("\\w{1000}", 16) + "'\nfull = 'http://a'\n";
    }
    text += kGood;
    const auto start = std::chrono::steady_clock::now();
    const RulesFile file = parseRulesText(text, "big.toml");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(problemLines(file),
              std::vector<std::string>{"big.toml:81:1: the patterns up to this rule compile to "
                                       "more than 2000000 instructions: this rule and those after "
                                       "it are left out"});
    ASSERT_EQ(file.rules->rules().size(), 20u);
    EXPECT_EQ(file.rules->rules().back().name, "r20");
    std::size_t instructions = 0;
    for (const FileRule& rule : file.rules->rules()) {
        instructions += 2 * static_cast<std::size_t>(rule.match->ProgramSize());
    }
    EXPECT_LE(instructions, kMaxPatternInstructions);
    // The last rule kept takes its address (the set of all patterns holds these 960,000).
    EXPECT_EQ(file.rules->firstTaking("x20-" + std::string(16000, 'w'), "").rule->name, "r20");
    EXPECT_LT(took, std::chrono::seconds(60));
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
