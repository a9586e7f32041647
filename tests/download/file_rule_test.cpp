// What a rule of a rules file does with an address: its captures, its templates, the addresses it
// accepts, and the search of a page.
#include "download/rules/file_rule.h"

#include <gtest/gtest.h>
#include <re2/re2.h>

#include <chrono>
#include <string>
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

TEST(PageSearch, APageWithoutLineEndsIsSearchedInLinearTime) {
    // 100 MB without a line end, made to hurt a backtracking matcher: a nested repetition that
    // fails at the very end, and many "<img" that open a match and fail late.
    std::string page;
    page.reserve(100'000'100);
    while (page.size() < 100'000'000) page += "<img alt=\"aaaaaaaaaaaaaaaaaaaaaaaaaaaa\"> ";
    page += "<img id=\"main\" src=\"/full/1.jpg?a=1&amp;b=2\">";
    const re2::RE2 find(R"re((?i)<img[^>]+id="main"[^>]+src="([^"]+)")re", latin1());
    const re2::RE2 nested(R"re((a+)+b="([^"]+)")re", latin1());
    const auto start = std::chrono::steady_clock::now();
    const auto found = searchPageText(page, find);
    const auto none = searchPageText(page, nested);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(found);
    EXPECT_EQ(found->groups[1], "/full/1.jpg?a=1&b=2");
    EXPECT_FALSE(none);
    // A backtracking engine would not end in the lifetime of this test; RE2 reads the page
    // once for each pattern.
    EXPECT_LT(took, std::chrono::seconds(60));

    // A hit that spans the page (no ">" ever closes the first "<img") takes RE2's slower
    // matcher for the captures over the whole span: still one pass, and the captures right.
    std::string spanning;
    while (spanning.size() < 10'000'000) spanning += "<img alt=\"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
    spanning += "<img id=\"main\" src=\"/full/2.jpg\">";
    const auto wide = searchPageText(spanning, find);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->groups[1], "/full/2.jpg");
}

}  // namespace
}  // namespace velnoria
