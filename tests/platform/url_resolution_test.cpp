#include "platform/curl/url_resolution.h"

#include <gtest/gtest.h>

#include <string>

namespace velnoria {
namespace {

TEST(ResolveUrl, ReportsAddressesAsABrowserDoes) {
    const std::string base = "http://forum.example/board/thread.php?t=5#post9";
    const struct {
        std::string reference;
        std::string expected;
    } cases[] = {
        {"a.jpg", "http://forum.example/board/a.jpg"},
        {"./img/a.jpg", "http://forum.example/board/img/a.jpg"},
        {"../a.jpg", "http://forum.example/a.jpg"},
        {"../../../a.jpg", "http://forum.example/a.jpg"},
        {"/top.jpg", "http://forum.example/top.jpg"},
        {"//img.example/th/b.jpg", "http://img.example/th/b.jpg"},
        {"?t=6", "http://forum.example/board/thread.php?t=6"},
        {"#frag", "http://forum.example/board/thread.php?t=5#frag"},
        {"", "http://forum.example/board/thread.php?t=5"},
        {"   ", "http://forum.example/board/thread.php?t=5"},
        {"http://www.imagebam.com/image/ab12", "http://www.imagebam.com/image/ab12"},
        {"HTTP://THUMBS.ImageShack.US/a.th.jpg", "http://thumbs.imageshack.us/a.th.jpg"},
        {"https://x.example:443/a", "https://x.example/a"},
        {"http://x.example:80/a", "http://x.example/a"},
        {"http://x.example:8080/a", "http://x.example:8080/a"},
        {"http://x.example/a.jpg#big", "http://x.example/a.jpg#big"},
        {"http://x.example/a/./b/../c.jpg", "http://x.example/a/c.jpg"},
        {" \n http://x.example/a\t.jpg \n", "http://x.example/a.jpg"},
        {"my pic.jpg", "http://forum.example/board/my%20pic.jpg"},
        {"\xC3\xBC.jpg", "http://forum.example/board/%C3%BC.jpg"},
        {"img\\a.jpg", "http://forum.example/board/img/a.jpg"},
        {"http://x.example/a%20b.jpg", "http://x.example/a%20b.jpg"},
        {"javascript:void(0)", "javascript:void(0)"},
        {"JavaScript:go()", "javascript:go()"},
        {"mailto:ann@example.org", "mailto:ann@example.org"},
        {"data:image/gif;base64,R0lGOD", "data:image/gif;base64,R0lGOD"},
        {"http://", "http://"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(resolveUrl(base, c.reference), c.expected) << '"' << c.reference << '"';
    }
}

TEST(ResolveUrl, LocalPagesResolveAgainstTheirFileAddress) {
    const std::string base = fileUrlOfPath("/tmp/saved pages/thread.html");
    EXPECT_EQ(base, "file:///tmp/saved%20pages/thread.html");
    EXPECT_EQ(resolveUrl(base, "thread_files/a.jpg"),
              "file:///tmp/saved%20pages/thread_files/a.jpg");
    EXPECT_EQ(resolveUrl(base, "http://www.imagevenue.com/x"), "http://www.imagevenue.com/x");
}

}  // namespace
}  // namespace velnoria
