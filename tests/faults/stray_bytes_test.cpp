// A server whose answer runs on past its Content-Length leaves stray bytes on a kept-alive
// connection. The next request to that host must not be lost to them: not a page (which is
// fetched only once), not the header request that names a file, not an image's first attempt.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/network_bench.h"

namespace velnoria::testing {
namespace {

// Announces the body's length, sends the body, and a moment later the rest it did not count.
Reply runsOnPastItsLength(const std::string& body) {
    Reply reply = Reply::ok(body + "\xff\xd9 and the uncounted rest of the image");
    reply.headers.push_back({"Content-Length", std::to_string(body.size())});
    reply.drip = Drip{body.size(), std::chrono::milliseconds(100)};
    return reply;
}

std::string havenPage(const std::string& image) {
    return "<html><body><img src='./images/" + image + "'></body></html>\n";
}

TEST(StrayBytes, TheNextRequestToTheHostIsNotLost) {
    struct Case {
        const char* what;
        std::vector<std::string> thumbnails;
        std::vector<std::pair<std::string, Reply>> routes;
        std::string log;
    };
    const std::string ok = "...OK\r\n";
    const Case cases[] = {
        {"page after page",
         {"http://img1.imagehaven.net/img/thumbs/a.jpg",
          "http://img1.imagehaven.net/img/thumbs/b.jpg"},
         {{"http://img1.imagehaven.net/img.php?id=a.jpg", runsOnPastItsLength(havenPage("a.jpg"))},
          {"http://img1.imagehaven.net/img.php?id=b.jpg", Reply::ok(havenPage("b.jpg"))},
          {"http://img1.imagehaven.net/images/a.jpg", Reply::ok("a")},
          {"http://img1.imagehaven.net/images/b.jpg", Reply::ok("b")}},
         "Downloading file a.jpg" + ok + "Downloading file b.jpg" + ok},
        {"image after image",
         {"http://www.hqcity.net/thumbs/a.jpg", "http://www.hqcity.net/thumbs/b.jpg"},
         {{"http://www.hqcity.net/hq/a.jpg", runsOnPastItsLength(std::string(5000, 'a'))},
          {"http://www.hqcity.net/hq/b.jpg", Reply::ok("b")}},
         "Downloading file a.jpg" + ok + "Downloading file b.jpg" + ok},
        {"header request after an image",
         {"http://thumbs.imagebam.com/1/a1.jpg", "http://thumbs.imagebam.com/1/b2.jpg"},
         {{"http://www.imagebam.com/image/a1",
           Reply::ok("<a href='http://www.imagebam.com/download/a1'>")},
          {"http://www.imagebam.com/image/b2",
           Reply::ok("<a href='http://www.imagebam.com/download/b2'>")},
          {"http://www.imagebam.com/download/a1", runsOnPastItsLength(std::string(5000, 'a'))},
          {"http://www.imagebam.com/download/b2", Reply::ok("b")}},
         "Downloading file a.jpg" + ok + "Downloading file b.jpg" + ok},
    };
    for (const auto& c : cases) {
        NetworkBench net(/*timeoutSeconds=*/5, /*watchdog=*/std::chrono::seconds(30));
        for (const auto& [url, reply] : c.routes) {
            Reply named = reply;
            if (url.find("/download/") != std::string::npos) {
                const std::string name = url.back() == '1' ? "a.jpg" : "b.jpg";
                named.headers.push_back(
                    {"Content-Disposition", "attachment; filename=\"" + name + "\""});
            }
            net.server.route(url, named);
        }
        net.bench.document.images = c.thumbnails;
        const JobResult result = net.bench.run();
        EXPECT_EQ(net.bench.view.log, "Starting download process...\r\n" + c.log) << c.what;
        EXPECT_EQ(result.finishedCount, 2) << c.what;
        EXPECT_EQ(readFile(net.bench.saved("b.jpg")), "b") << c.what;
        EXPECT_EQ(net.bench.failedTxt(), "") << c.what;
    }
}

}  // namespace
}  // namespace velnoria::testing
