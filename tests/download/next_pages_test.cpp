#include "download/next_pages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velnoria {
namespace {

using Verdict = NextPages::Verdict;

TEST(NextPages, WhichNextPageMayBeRead) {
    const struct {
        const char* what;
        std::string first;
        std::string foundAt;
        std::vector<std::string> read;  // pages read after the first
        std::string next;
        Verdict verdict;
    } cases[] = {
        {"the next page",
         "http://f.example/t?p=1",
         "",
         {},
         "http://f.example/t?p=2",
         Verdict::Follow},
        {"host in other letter case, https",
         "http://f.example/t",
         "",
         {},
         "HTTPS://F.Example/u",
         Verdict::Follow},
        {"another host",
         "http://f.example/t",
         "",
         {},
         "http://g.example/t?p=2",
         Verdict::OtherHost},
        {"a host that only ends the same",
         "http://f.example/t",
         "",
         {},
         "http://xf.example/t",
         Verdict::OtherHost},
        {"user part naming the host",
         "http://f.example/t",
         "",
         {},
         "http://f.example@g.example/",
         Verdict::OtherHost},
        {"the host the first page was redirected to",
         "http://f.example/t",
         "http://www.f.example/t",
         {},
         "http://www.f.example/t?p=2",
         Verdict::Follow},
        {"script", "http://f.example/t", "", {}, "javascript:go(2)", Verdict::NotWeb},
        {"file", "http://f.example/t", "", {}, "file:///etc/passwd", Verdict::NotWeb},
        {"empty host", "http://f.example/t", "", {}, "http:///t", Verdict::NotWeb},
        {"the first page again",
         "http://f.example/t",
         "",
         {"http://f.example/t?p=2"},
         "http://f.example/t#top",
         Verdict::ReadBefore},
        {"a page read before",
         "http://f.example/t",
         "",
         {"http://f.example/t?p=2", "http://f.example/t?p=3"},
         "http://f.example/t?p=2",
         Verdict::ReadBefore},
        {"the limit",
         "http://f.example/t",
         "",
         {"http://f.example/t?p=2"},
         "http://f.example/t?p=3",
         Verdict::LimitReached},
        {"a local first page: any web page may come next",
         "thread.html",
         "file:///w/thread.html",
         {},
         "http://f.example/t?p=2",
         Verdict::Follow},
        {"a local first page: the first web page sets the host",
         "thread.html",
         "file:///w/thread.html",
         {"http://f.example/t?p=2"},
         "http://g.example/t?p=3",
         Verdict::OtherHost},
        {"a local first page takes the first web page's host",
         "thread.html",
         "file:///w/thread.html",
         {"http://f.example/t?p=2"},
         "http://f.example/t?p=3",
         Verdict::LimitReached},
    };
    for (const auto& c : cases) {
        NextPages pages(c.first, c.foundAt, 2 + (c.read.size() == 2 ? 1 : 0));
        for (const auto& page : c.read) pages.read(page, "");
        EXPECT_EQ(pages.judge(c.next), c.verdict) << c.what;
    }
}

TEST(NextPages, LogLinesShowNoControlCharacters) {
    EXPECT_EQ(oneLine("http://f.example/a\r\nb\tc\x7f"),
              "http://f.example/a\\x0D\\x0Ab\\x09c\\x7F");
    const std::string longOne(5000, 'a');
    EXPECT_EQ(oneLine(longOne), std::string(2000, 'a') + "...");
}

}  // namespace
}  // namespace velnoria
