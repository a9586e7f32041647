// What a rule of a rules file does with an address: its captures, its templates, the addresses it
// accepts, and the search of a page.
#include "download/rules/file_rule.h"

#include <gtest/gtest.h>
#include <re2/re2.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/web_address.h"
#include "download/rules/page_search.h"
#include "download/rules/rules_file.h"

namespace velnoria {
namespace {

re2::RE2::Options latin1() {
    re2::RE2::Options options;
    options.set_encoding(re2::RE2::Options::EncodingLatin1);
    options.set_log_errors(false);
    return options;
}

TEST(CaptureTemplate, FillsInTheCapturesOfMatchAndFind) {
    const re2::RE2 match(R"re(t(\d+)\.host\.test/(?P<dir>\w+)/(.+)|(never))re", latin1());
    const re2::RE2 find(R"re(src="(?P<src>[^"]*)" alt="(?P<dir>[^"]*)")re", latin1());
    const auto matched = searchCaptures(match, "http://t7.host.test/ab/c d.jpg");
    const auto found = searchCaptures(find, R"(<img src="/x.jpg" alt="from-page">)");
    ASSERT_TRUE(matched && found);

    const struct {
        std::string text;
        std::string expanded;
    } cases[] = {
        {"http://i$1.host.test/big/$2/$3", "http://i7.host.test/big/ab/c d.jpg"},
        {"${dir}", "from-page"},  // find's name before match's
        {"${1}0", "70"},
        {"$4", ""},  // took part in no match
        {"$$1 costs $$$1", "$1 costs $7"},
        {"${src}", "/x.jpg"},
        {"plain", "plain"},
        {"", ""},
    };
    const CaptureTemplate::Scope scope{match.NumberOfCapturingGroups(),
                                       &match.NamedCapturingGroups(), &find.NamedCapturingGroups()};
    for (const auto& c : cases) {
        std::optional<CaptureTemplate::Error> error;
        const CaptureTemplate parsed = CaptureTemplate::parse(c.text, scope, error);
        ASSERT_FALSE(error) << c.text << ": " << error->message;
        EXPECT_EQ(parsed.expand(*matched, &*found), c.expanded) << c.text;
    }
    // Without the page's captures, a name falls back to match's.
    std::optional<CaptureTemplate::Error> error;
    EXPECT_EQ(CaptureTemplate::parse("${dir}", scope, error).expand(*matched), "ab");
}

TEST(CaptureTemplate, ATemplateThatWouldGrowWithoutBoundGivesNothing) {
    const re2::RE2 match("(x+)", latin1());
    const auto captures = searchCaptures(match, std::string(5000, 'x'));
    std::string text;
    for (int i = 0; i < 20; ++i) text += "$1";
    std::optional<CaptureTemplate::Error> error;
    const CaptureTemplate repeated = CaptureTemplate::parse(text, {1, nullptr, nullptr}, error);
    EXPECT_FALSE(repeated.expand(*captures, nullptr, 99999));
    EXPECT_EQ(repeated.expand(*captures, nullptr, 100000)->size(), 100000u);
}

// The one rule of a rules file's text.
FileRule onlyRule(const std::string& text) {
    const RulesFile file = parseRulesText(text, "r.toml");
    EXPECT_TRUE(file.problems.empty()) << file.problems.front().text();
    return file.rules->rules().at(0);
}

TEST(FileRule, TheFullSizeAddressOfARewriteOrOfAHit) {
    const FileRule rewrite =
        onlyRule("[[rule]]\nmatch = 'h\\.test/t/(\\w+)'\nfull = 'http://h.test/big/$1.jpg'\n");
    const FileRule firstCapture = onlyRule(
        "[[rule]]\nmatch = 'h\\.test/t/(\\w+)'\npage = 'http://h.test/v/$1'\n"
        "find = 'content=\"([^\"]+)\"'\n");
    const FileRule built = onlyRule(
        "[[rule]]\nmatch = 'h\\.test/t/(?P<id>\\w+)/(?P<rest>\\w+)'\n"
        "page = 'http://h.test/v/$1'\n"
        "find = 'og:image\" content=\"(?P<base>[^\"]+)/small/(?P<rest>[^\"]+)\"'\n"
        "full = '${base}/big/${rest}?id=${id}&first=$1'\n");
    const std::string page =
        R"(<meta property="og:image" content="http://cdn.test/a/small/x.jpg">)";
    const struct {
        const char* what;
        const FileRule& rule;
        bool withHit;
        std::optional<std::string> address;
    } cases[] = {
        {"a rewrite", rewrite, false, "http://h.test/big/q1.jpg"},
        {"a rewrite, a hit aside", rewrite, true, "http://h.test/big/q1.jpg"},
        {"a hit's first capture", firstCapture, true, "http://cdn.test/a/small/x.jpg"},
        {"no hit, no address", firstCapture, false, std::nullopt},
        // ${rest} is find's before match's; $1 stays match's.
        {"full over the hit", built, true, "http://cdn.test/a/big/x.jpg?id=q1&first=q1"},
        {"full without a hit", built, false, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto match = searchCaptures(*c.rule.match, "http://h.test/t/q1/r2");
        ASSERT_TRUE(match) << c.what;
        const auto hit = c.rule.find ? searchCaptures(*c.rule.find, page) : std::nullopt;
        EXPECT_EQ(c.rule.fullAddress(*match, c.withHit && hit ? &*hit : nullptr), c.address)
            << c.what;
    }
    // An address that would grow past the bound is none.
    const FileRule repeated = onlyRule("[[rule]]\nmatch = '(x+)'\nfull = '" +
                                       std::string("$1$1$1$1$1$1$1$1$1$1$1$1$1$1") + "'\n");
    EXPECT_FALSE(repeated.fullAddress(*searchCaptures(*repeated.match, std::string(5000, 'x'))));
}

TEST(FileRule, WhatARuleSendsHasTheCapturesOfItsAddress) {
    const FileRule rule = onlyRule(R"toml([[rule]]
match = 'h\.test/t/(?P<id>[^/]+)'
cookies = "consent=yes"
visit = "http://h.test/home"
page = "http://h.test/v/$1"
form = "continue=1&id=${id}"
headers = { X-Id = "${id}", X-Fixed = "1" }
referer = "http://h.test/v/$1"
find = '(x)'
)toml");
    const struct {
        const char* address;
        const char* problem;  // "" when the request can be made
    } cases[] = {
        {"http://h.test/t/q1", ""},
        {"http://h.test/t/q1\r\nX-Evil: 1",
         "the Referer would hold a line break or NUL from the address"},
    };
    for (const auto& c : cases) {
        const auto match = searchCaptures(*rule.match, c.address);
        ASSERT_TRUE(match) << c.address;
        std::string problem;
        const auto request = rule.request(*match, problem);
        EXPECT_EQ(problem, c.problem);
        EXPECT_EQ(request.has_value(), problem.empty());
        if (!request) continue;
        EXPECT_EQ(request->cookies, "consent=yes");
        EXPECT_EQ(request->visit, "http://h.test/home");
        EXPECT_EQ(request->form, "continue=1&id=q1");
        EXPECT_EQ(request->referer, "http://h.test/v/q1");
        EXPECT_EQ(request->headers, (std::vector<std::pair<std::string, std::string>>{
                                        {"X-Fixed", "1"}, {"X-Id", "q1"}}));
    }

    // Without the keys a request is a plain one, and `referer = ""` sends none.
    const FileRule plain =
        onlyRule("[[rule]]\nmatch = '(x)'\nfull = 'http://a/$1'\nreferer = ''\n");
    std::string problem;
    const auto request = plain.request(*searchCaptures(*plain.match, "x"), problem);
    ASSERT_TRUE(request);
    EXPECT_TRUE(request->cookies.empty() && request->headers.empty());
    EXPECT_FALSE(request->visit || request->form);
    EXPECT_EQ(request->referer, "");
}

TEST(FileRule, APlaceholderIsKnownByItsSizeOrItsHash) {
    const FileRule rule = onlyRule(
        "[[rule]]\nmatch = 'a'\nfull = 'http://a'\nplaceholder_sizes = [14396, 0]\n"
        "placeholder_sha256 = ['9F86D081884C7D659A2FEAA0C55AD015A3BF4F1B2B0B822CD15D6C15B0F00A08']"
        "\n");
    const std::string hash = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
    EXPECT_TRUE(rule.hasPlaceholders());
    EXPECT_TRUE(rule.isPlaceholder(14396));
    EXPECT_TRUE(rule.isPlaceholder(0));
    EXPECT_FALSE(rule.isPlaceholder(14395));
    EXPECT_FALSE(rule.isPlaceholder(14397, "00" + hash.substr(2)));
    EXPECT_TRUE(rule.isPlaceholder(5, hash));
    EXPECT_FALSE(rule.isPlaceholder(5, hash.substr(1)));
    EXPECT_FALSE(onlyRule("[[rule]]\nmatch = 'a'\nfull = 'http://a'\n").hasPlaceholders());
}

TEST(RuleSet, TheFirstRuleOfTheFileTakesTheImageWhicheverItTests) {
    const RulesFile file = parseRulesText(R"toml(
[[rule]]
name = "by link"
on = "link"
match = 'view\.test/(\d+)'
full = "http://view.test/full/$1.jpg"

[[rule]]
name = "by image"
match = 'thumb\.test/(\d+)'
full = "http://thumb.test/full/$1.jpg"
)toml",
                                          "r.toml");
    ASSERT_TRUE(file.problems.empty());
    const RuleSet& rules = *file.rules;
    const struct {
        const char* image;
        const char* link;
        const char* rule;  // nullptr: none
        const char* subject;
        const char* capture;
    } cases[] = {
        {"http://thumb.test/5.jpg", "http://view.test/6", "by link", "http://view.test/6", "6"},
        {"http://thumb.test/5.jpg", "", "by image", "http://thumb.test/5.jpg", "5"},
        {"http://thumb.test/5.jpg", "http://other.test/6", "by image", "http://thumb.test/5.jpg",
         "5"},
        // A link rule does not test the image's address, nor an image rule the link's.
        {"http://view.test/6", "http://thumb.test/5.jpg", nullptr, "", ""},
        {"", "", nullptr, "", ""},
        // Case matters, as for the built-in host keys.
        {"http://THUMB.test/5.jpg", "", nullptr, "", ""},
    };
    for (const auto& c : cases) {
        const RuleSet::Taken taken = rules.firstTaking(c.image, c.link);
        if (c.rule == nullptr) {
            EXPECT_EQ(taken.rule, nullptr) << c.image;
            continue;
        }
        ASSERT_NE(taken.rule, nullptr) << c.image;
        EXPECT_EQ(taken.rule->name, c.rule) << c.image;
        EXPECT_EQ(taken.subject, c.subject) << c.image;
        EXPECT_EQ(taken.captures.groups.at(1), c.capture) << c.image;
    }
}

TEST(RuleAddresses, SchemesNamesAndImageLinks) {
    const struct {
        const char* address;
        bool http;
        const char* lastPart;  // nullptr: of no use for an address that is not http(s)
        bool image;
    } cases[] = {
        {"http://h.test/a/b.jpg", true, "b.jpg", true},
        {"HTTPS://h.test/a/B.JPEG?size=large#top", true, "B.JPEG", true},
        {"http://h.test/a/b.webp#x.html", true, "b.webp", true},
        {"http://h.test/view.php?file=b.jpg", true, "view.php", false},
        {"http://h.test/a/", true, "", false},
        {"http://h.test", true, "", false},
        {"http://h.test/.png", true, ".png", false},
        {"http://h.test/a.bmp", true, "a.bmp", true},
        {"http://h.test/a.gif", true, "a.gif", true},
        {"http://h.test/a.jpgx", true, "a.jpgx", false},
        {"javascript:show('b.jpg')", false, nullptr, false},
        {"file:///etc/b.png", false, nullptr, false},
        {"data:image/png;base64,AAAA.png", false, nullptr, false},
        {"ftp://h.test/b.jpg", false, nullptr, false},
        {"//h.test/b.jpg", false, nullptr, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isWebAddress(c.address), c.http) << c.address;
        if (c.lastPart != nullptr) {
            EXPECT_EQ(lastPathPart(c.address), c.lastPart) << c.address;
        }
        EXPECT_EQ(isImageAddress(c.address), c.image) << c.address;
    }
}

TEST(RuleAddresses, CharacterReferencesAreDecodedAsInAnAttribute) {
    const struct {
        const char* written;
        const char* decoded;
    } cases[] = {
        {"a?x=1&amp;y=2", "a?x=1&y=2"},
        {"&lt;&gt;&quot;&apos;", "<>\"'"},
        {"&#47;&#x2F;&#X2f;", "///"},
        {"&#233;", "\xC3\xA9"},
        {"&#x1F600;", "\xF0\x9F\x98\x80"},
        {"&amp;amp;", "&amp;"},  // once only
        {"a & b", "a & b"},
        {"&nbsp;&copy;", "&nbsp;&copy;"},  // left as written
        {"&#0;&#xD800;&#x110000;&#;&#x;", "&#0;&#xD800;&#x110000;&#;&#x;"},
        {"&amp", "&amp"},
        {"&averyveryverylongname;", "&averyveryverylongname;"},
    };
    for (const auto& c : cases) EXPECT_EQ(decodeCharacterReferences(c.written), c.decoded);
}

}  // namespace
}  // namespace velnoria
