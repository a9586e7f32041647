#include "platform/curl/curl_url_download.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>
#include <vector>

#include "tests/platform/transfer_test_helpers.h"
#include "tests/support/test_http_server.h"

namespace velnoria::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr auto kUnbounded = std::numeric_limits<std::uint64_t>::max();

class CurlUrlDownloadTest : public ::testing::Test {
  protected:
    TestHttpServer server;
    ScopedProxy proxy{server};
    CurlUrlCache cache;

    struct Result {
        DownloadOutcome outcome;
        std::string body;
    };

    Result fetch(CurlUrlDownload& download, const std::string& url,
                 std::uint64_t maxBytes = kUnbounded, std::size_t refuseAfter = SIZE_MAX) {
        Result r;
        r.outcome = download.download(
            url,
            [&](const char* data, std::size_t size) {
                if (r.body.size() + size > refuseAfter) return false;
                r.body.append(data, size);
                return true;
            },
            maxBytes);
        return r;
    }
};

TEST_F(CurlUrlDownloadTest, OutcomeOfEachKindOfAnswer) {
    server.route("http://d.test/ok", Reply::generated(300000, 5));
    server.route("http://d.test/missing", Reply::withStatus(404, "no such image"));
    server.route("http://d.test/moved", Reply::redirect("http://d.test/ok", 301));
    Reply chunked = Reply::ok("chunked body");
    chunked.chunked = true;
    server.route("http://d.test/chunked", chunked);
    Reply shortBody = Reply::generated(10000, 1);
    shortBody.closeAfterBodyBytes = 4000;
    server.route("http://d.test/short", shortBody);
    Reply reset = Reply::generated(100000, 2);
    reset.resetAfterBodyBytes = 10000;
    server.route("http://d.test/reset", reset);
    server.route("http://d.test/loop", Reply::redirect("http://d.test/loop"));
    // Only the final answer's length counts: a redirect's odd one is of no matter.
    Reply oddRedirect = Reply::redirect("http://d.test/ok");
    oddRedirect.body = "moved!";
    oddRedirect.headers.push_back({"Content-Length", "6x"});
    server.route("http://d.test/odd-redirect", oddRedirect);
    Reply unended;
    unended.raw = "HTTP/1.1 200 OK\r\nX-A: b\r\n";
    server.route("http://d.test/unended", unended);
    Reply twoLengths = Reply::generated(1032, 6);
    twoLengths.headers = {{"Content-Length", "5"}, {"Content-Length", "1032"}};
    twoLengths.closeConnection = true;
    server.route("http://d.test/two-lengths", twoLengths);

    struct Case {
        std::string url;
        bool transferred;
        long status;
        std::string body;  // "" with a status of 0: not compared
        std::string error = {};
    };
    const std::vector<Case> cases = {
        {"http://d.test/ok", true, 200, generatedBytes(300000, 5)},
        {"http://d.test/missing", true, 404, "no such image"},
        {"http://d.test/moved", true, 200, generatedBytes(300000, 5)},
        {"http://d.test/chunked", true, 200, "chunked body"},
        {"http://d.test/short", false, 200, generatedBytes(4000, 1), "connection closed early"},
        {"http://d.test/reset", false, 200, "", "connection reset"},
        {"http://d.test/loop", false, 302, "", "too many redirects"},
        {"http://d.test/odd-redirect", true, 200, generatedBytes(300000, 5)},
        {"http://d.test/unended", false, 200, "", "invalid answer: header block cut short"},
        {"http://d.test/two-lengths", false, 200, "", "invalid answer: Content-Length 5 and 1032"},
    };
    CurlUrlDownload download(5, cache);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const auto r = fetch(download, c.url);
        EXPECT_EQ(r.outcome.transferred, c.transferred);
        EXPECT_EQ(r.outcome.httpStatus, c.status);
        EXPECT_TRUE(r.outcome.written);
        EXPECT_EQ(r.outcome.error, c.error);
        if (!c.body.empty()) {
            EXPECT_TRUE(r.body == c.body);
        }
    }
}

TEST_F(CurlUrlDownloadTest, MaxBytesBoundsTheBody) {
    server.route("http://m.test/sized", Reply::generated(1000));
    Reply unsized = Reply::generated(1000);
    unsized.autoContentLength = false;
    server.route("http://m.test/unsized", unsized);
    struct Case {
        std::string url;
        std::uint64_t max;
        bool transferred;
    };
    CurlUrlDownload download(5, cache);
    for (const auto& c : std::vector<Case>{{"http://m.test/sized", 1000, true},
                                           {"http://m.test/sized", 999, false},
                                           {"http://m.test/unsized", 1000, true},
                                           {"http://m.test/unsized", 999, false}}) {
        SCOPED_TRACE(c.url + " max " + std::to_string(c.max));
        const auto r = fetch(download, c.url, c.max);
        EXPECT_EQ(r.outcome.transferred, c.transferred);
        EXPECT_LE(r.body.size(), c.max);
        EXPECT_TRUE(r.outcome.written);
    }
}

TEST_F(CurlUrlDownloadTest, SinkRefusingEndsTheTransfer) {
    server.route("http://s.test/x", Reply::generated(1 << 20));
    CurlUrlDownload download(5, cache);
    const auto r = fetch(download, "http://s.test/x", kUnbounded, 1000);
    EXPECT_FALSE(r.outcome.written);
    EXPECT_FALSE(r.outcome.transferred);
    EXPECT_FALSE(r.outcome.error.empty());
    EXPECT_LE(r.body.size(), 1000u);
}

TEST_F(CurlUrlDownloadTest, ConnectionFailureIsReported) {
    ScopedEnv deadProxy("http_proxy", "http://127.0.0.1:" + std::to_string(closedPort()));
    CurlUrlDownload download(5, cache);
    const auto r = fetch(download, "http://nobody.test/a.jpg");
    EXPECT_FALSE(r.outcome.transferred);
    EXPECT_EQ(r.outcome.httpStatus, 0);
    EXPECT_FALSE(r.outcome.error.empty());
    EXPECT_EQ(r.body, "");
}

TEST_F(CurlUrlDownloadTest, TimeOutCoversSilenceAndDrips) {
    Reply late = Reply::ok("late");
    late.headerDelay = 3s;
    Reply stuck = Reply::generated(5000);
    stuck.silenceAfterHeaders = true;
    // Below 100 bytes a second for the whole time-out counts as silence.
    Reply trickle = Reply::ok(std::string(40, 't'));
    trickle.drip = Drip{1, 400ms};
    Reply steady = Reply::ok(std::string(1200, 's'));
    steady.drip = Drip{300, 500ms};
    server.route("http://t.test/late", late);
    server.route("http://t.test/stuck", stuck);
    server.route("http://t.test/trickle", trickle);
    server.route("http://t.test/steady", steady);
    struct Case {
        std::string url;
        bool transferred;
    };
    CurlUrlDownload download(1, cache);
    for (const auto& c : std::vector<Case>{{"http://t.test/late", false},
                                           {"http://t.test/stuck", false},
                                           {"http://t.test/trickle", false},
                                           {"http://t.test/steady", true}}) {
        SCOPED_TRACE(c.url);
        const auto start = Clock::now();
        const auto r = fetch(download, c.url);
        EXPECT_EQ(r.outcome.transferred, c.transferred) << r.outcome.error;
        EXPECT_EQ(r.outcome.error, c.transferred ? "" : "timed out");
        EXPECT_LT(Clock::now() - start, 3s);
    }
}

TEST_F(CurlUrlDownloadTest, RequestHeaders) {
    server.route("http://r.test/a", Reply::ok("a"));
    CurlUrlDownload download(5, cache);
    fetch(download, "http://r.test/a");
    cache.deleteEntry("http://r.test/a");
    fetch(download, "http://r.test/a");
    const auto log = server.requestsFor("http://r.test/a");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].header("User-Agent"), "Mozilla/5.0 (compatible; VelnoriaMorvath/2.2)");
    EXPECT_FALSE(log[0].hasHeader("Cache-Control"));
    EXPECT_EQ(log[1].header("Cache-Control"), "no-cache");
    EXPECT_EQ(log[1].header("Pragma"), "no-cache");
    EXPECT_EQ(log[0].connection, log[1].connection);
}

}  // namespace
}  // namespace velnoria::testing
