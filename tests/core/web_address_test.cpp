#include "core/web_address.h"

#include <gtest/gtest.h>

#include <string>

namespace velnoria {
namespace {

TEST(WebAddress, OnlyHttpAndHttpsWithAHostAreAskedFor) {
    const struct {
        std::string address;
        bool web;
        std::string host;
    } cases[] = {
        {"http://h.test/a/b.jpg", true, "h.test"},
        {"HTTPS://H.Test:8443/a?b#c", true, "h.test"},
        {"http://h.test", true, "h.test"},
        {"http://user:pw@h.test/x", true, "h.test"},
        {"http://f.example@g.example/", true, "g.example"},
        {"http://[::1]:8080/x", true, "[::1]"},
        {"http://", false, ""},
        {"http:///x", false, ""},
        {"http://:80/x", false, ""},
        {"http://user@/x", false, ""},
        {"//h.test/x", false, ""},
        {"ftp://h.test/x", false, ""},
        {"file:///etc/passwd", false, ""},
        {"javascript:go('http://h.test/')", false, ""},
        // Blanks around an address: a page's link is read with them, a request never.
        {" http://h.test/ \r\n", false, "h.test"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isWebAddress(c.address), c.web) << c.address;
        EXPECT_EQ(webHostName(c.address), c.host) << c.address;
    }
}

}  // namespace
}  // namespace velnoria
