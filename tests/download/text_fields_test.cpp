#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "download/rules/rule_text.h"

namespace velnoria {
namespace {

struct FieldCase {
    const char* text;
    int n;
    const char* delimiter;
    const char* expected;
};

TEST(Retparm, FieldsAsTheTableGivesThem) {
    const FieldCase cases[] = {
        {"a://h/d/f.jpg", 1, "/", "a:"},
        {"a://h/d/f.jpg", 2, "/", ""},
        {"a://h/d/f.jpg", 3, "/", "h"},
        {"a://h/d/f.jpg", 5, "/", "f.jpg"},
        {"a://h/d/f.jpg", 6, "/", ""},
        {"abc", 1, "/", "abc"},
        {"abc/", 2, "/", ""},
        {"abc", 0, "/", ""},
        {"abc", -1, "/", ""},
        {"", 1, "/", ""},
        {"photo.th.jpg", 1, ".", "photo"},
        {"x\"name.jpg\"y", 2, "\"", "name.jpg"},
        {"a/b", 1, "//", "a/b"},
        {"a/b", 2, "//", ""},
        {"a/b", INT_MIN, "/", ""},
        {"a/b", INT_MAX, "/", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(field(c.text, c.n, c.delimiter), c.expected) << "text=" << c.text << " n=" << c.n;
    }
}

TEST(Retlast, LastFieldPassingOverEmptyEnds) {
    const std::pair<const char*, const char*> cases[] = {
        {"a://h/d/f.jpg", "f.jpg"},
        {"abc", "abc"},
        {"a/b/", "b"},
        {"a/b//", "b"},
        {"a///b", "a"},
        {"/abc", "abc"},
        {"", ""},
        {"//", ""},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(lastField(text, "/"), expected) << "text=" << text;
    }
}

TEST(Retparm, WalkStopsAtPosition32767) {
    const std::string fits(32766, 'x');
    EXPECT_EQ(field(fits, 1, "/"), fits);
    EXPECT_EQ(lastField(fits, "/"), fits);

    const std::string tooLong(32767, 'x');
    EXPECT_THROW(field(tooLong, 1, "/"), TextPositionOverflow);
    EXPECT_THROW(lastField(tooLong, "/"), TextPositionOverflow);

    // A field that ends before the limit is still read from a longer text.
    const std::string early = "ab/" + std::string(40000, 'y');
    EXPECT_EQ(field(early, 1, "/"), "ab");
}

TEST(Retlast, MatchesFieldByFieldDefinition) {
    // lastField() finds delimiters once; compare with the literal loop over field().
    const char* texts[] = {"a/b/c", "/", "a//", "//a//b", "x/y//z///", "///", "q"};
    for (const char* t : texts) {
        int k = 1;
        while (!(field(t, k + 1, "/").empty() && field(t, k + 2, "/").empty())) ++k;
        EXPECT_EQ(lastField(t, "/"), field(t, k, "/")) << t;
    }
}

}  // namespace
}  // namespace velnoria
