#include "platform/referer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velnoria {
namespace {

TEST(RefererToSend, FollowsTheDefaultPolicyOfBrowsers) {
    struct Case {
        std::string page;
        std::string target;
        std::string referer;
    };
    const std::vector<Case> cases = {
        // Within one origin: the whole address, without fragment and user info.
        {"http://forum.test/thread?id=5", "http://forum.test/img/1.jpg",
         "http://forum.test/thread?id=5"},
        {"https://forum.test/t/1#post-9", "https://forum.test/a.jpg", "https://forum.test/t/1"},
        {"https://user:pw@forum.test/t/1?p=2#x", "https://forum.test/a.jpg",
         "https://forum.test/t/1?p=2"},
        {"http://forum.test", "http://forum.test/a.jpg", "http://forum.test/"},
        {"http://forum.test?page=2", "http://forum.test/a.jpg", "http://forum.test/?page=2"},
        {"HTTP://Forum.TEST/Thread", "http://forum.test/a.jpg", "http://forum.test/Thread"},
        {"http://forum.test:80/t", "http://forum.test/a.jpg", "http://forum.test/t"},
        {"http://[::1]:8080/t", "http://[::1]:8080/a.jpg", "http://[::1]:8080/t"},
        {"https://forum.test/t", "https://forum.test/" + std::string(5000, 'a'),
         "https://forum.test/t"},
        // A page longer than browsers send is cut to its origin.
        {"https://forum.test/" + std::string(5000, 'p'), "https://forum.test/a.jpg",
         "https://forum.test/"},
        // Another origin: the origin alone.
        {"http://forum.test/thread?id=5#x", "http://img.host.test/a.jpg", "http://forum.test/"},
        {"http://forum.test/t", "http://forum.test:8080/a.jpg", "http://forum.test/"},
        {"http://forum.test:8080/t", "http://forum.test/a.jpg", "http://forum.test:8080/"},
        {"http://forum.test/t", "https://forum.test/a.jpg", "http://forum.test/"},
        {"https://user@forum.test/t", "https://cdn.test/a.jpg", "https://forum.test/"},
        // From https to http: nothing.
        {"https://forum.test/t", "http://forum.test/a.jpg", ""},
        {"https://forum.test/t", "http://cdn.test/a.jpg", ""},
        // A page that is not on the web: nothing.
        {"file:///home/me/page.html", "http://cdn.test/a.jpg", ""},
        {"about:blank", "http://cdn.test/a.jpg", ""},
        {"", "http://cdn.test/a.jpg", ""},
        {"ftp://files.test/list", "http://cdn.test/a.jpg", ""},
        {"http:forum.test/t", "http://forum.test/a.jpg", ""},
        {"http:///t", "http://forum.test/a.jpg", ""},
        // Nothing that could break a header line.
        {"http://forum.test/t\r\nX-Injected: 1", "http://forum.test/a.jpg", ""},
        {"http://forum.test/t", "ftp://forum.test/a.jpg", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(refererToSend(c.page, c.target), c.referer)
            << c.page.substr(0, 60) << " -> " << c.target.substr(0, 60);
    }
}

}  // namespace
}  // namespace velnoria
