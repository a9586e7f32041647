#include "platform/waiting_download.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "platform/curl/curl_transfer_engine.h"
#include "platform/driving_event_loop.h"
#include "tests/platform/transfer_test_helpers.h"
#include "tests/support/network_bench.h"
#include "tests/support/test_http_server.h"

namespace velnoria::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr auto kUnbounded = std::numeric_limits<std::uint64_t>::max();

// The whole download on the real transfer engine, every request going to the test server.
class WaitingDownloadTest : public ::testing::Test {
  protected:
    Watchdog watchdog{std::chrono::seconds(90)};
    TestHttpServer server;
    ScopedProxy proxy{server};

    struct Result {
        DownloadOutcome outcome;
        std::string body;
    };

    Result fetch(EngineNetwork& network, const std::string& url,
                 std::uint64_t maxBytes = kUnbounded, std::size_t refuseAfter = SIZE_MAX) {
        Result r;
        r.outcome = network.download.download(
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

TEST_F(WaitingDownloadTest, OutcomeOfEachKindOfAnswer) {
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
    EngineNetwork network(5);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const auto r = fetch(network, c.url);
        EXPECT_EQ(r.outcome.transferred, c.transferred);
        EXPECT_EQ(r.outcome.httpStatus, c.status);
        EXPECT_TRUE(r.outcome.written);
        EXPECT_EQ(r.outcome.error, c.error);
        if (!c.body.empty()) {
            EXPECT_TRUE(r.body == c.body);
        }
    }
}

TEST_F(WaitingDownloadTest, MaxBytesBoundsTheBody) {
    server.route("http://m.test/sized", Reply::generated(1000));
    Reply unsized = Reply::generated(1000);
    unsized.autoContentLength = false;
    server.route("http://m.test/unsized", unsized);
    struct Case {
        std::string url;
        std::uint64_t max;
        bool transferred;
    };
    EngineNetwork network(5);
    for (const auto& c : std::vector<Case>{{"http://m.test/sized", 1000, true},
                                           {"http://m.test/sized", 999, false},
                                           {"http://m.test/unsized", 1000, true},
                                           {"http://m.test/unsized", 999, false}}) {
        SCOPED_TRACE(c.url + " max " + std::to_string(c.max));
        const auto r = fetch(network, c.url, c.max);
        EXPECT_EQ(r.outcome.transferred, c.transferred);
        EXPECT_LE(r.body.size(), c.max);
        EXPECT_TRUE(r.outcome.written);
    }
}

TEST_F(WaitingDownloadTest, SinkRefusingEndsTheTransfer) {
    server.route("http://s.test/x", Reply::generated(1 << 20));
    EngineNetwork network(5);
    const auto r = fetch(network, "http://s.test/x", kUnbounded, 1000);
    EXPECT_FALSE(r.outcome.written);
    EXPECT_FALSE(r.outcome.transferred);
    EXPECT_FALSE(r.outcome.error.empty());
    EXPECT_LE(r.body.size(), 1000u);
}

TEST_F(WaitingDownloadTest, ConnectionFailureIsReported) {
    ScopedEnv deadProxy("http_proxy", "http://127.0.0.1:" + std::to_string(closedPort()));
    EngineNetwork network(5);
    const auto r = fetch(network, "http://nobody.test/a.jpg");
    EXPECT_FALSE(r.outcome.transferred);
    EXPECT_EQ(r.outcome.httpStatus, 0);
    EXPECT_FALSE(r.outcome.error.empty());
    EXPECT_EQ(r.body, "");
}

TEST_F(WaitingDownloadTest, TimeOutCoversSilenceAndDrips) {
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
    EngineNetwork network(1);
    for (const auto& c : std::vector<Case>{{"http://t.test/late", false},
                                           {"http://t.test/stuck", false},
                                           {"http://t.test/trickle", false},
                                           {"http://t.test/steady", true}}) {
        SCOPED_TRACE(c.url);
        const auto start = Clock::now();
        const auto r = fetch(network, c.url);
        EXPECT_EQ(r.outcome.transferred, c.transferred) << r.outcome.error;
        EXPECT_EQ(r.outcome.error, c.transferred ? "" : "timed out");
        EXPECT_LT(Clock::now() - start, 3s);
    }
}

TEST_F(WaitingDownloadTest, RequestHeaders) {
    server.route("http://r.test/a", Reply::ok("a"));
    EngineNetwork network(5);
    fetch(network, "http://r.test/a");
    network.cache.deleteEntry("http://r.test/a");
    fetch(network, "http://r.test/a");
    const auto log = server.requestsFor("http://r.test/a");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].header("User-Agent"), "Mozilla/5.0 (compatible; VelnoriaMorvath/2.2)");
    EXPECT_FALSE(log[0].hasHeader("Cache-Control"));
    EXPECT_EQ(log[1].header("Cache-Control"), "no-cache");
    EXPECT_EQ(log[1].header("Pragma"), "no-cache");
    EXPECT_EQ(log[0].connection, log[1].connection);
}

TEST_F(WaitingDownloadTest, EveryFieldOfTheOutcomeIsFilled) {
    server.route("http://f.test/start", Reply::redirect("http://g.test/page", 301));
    Reply page = Reply::ok("<html></html>", "text/html; charset=utf-8");
    page.headers.emplace_back("ETag", "\"v1\"");
    server.route("http://g.test/page", page);
    EngineNetwork network(5);
    const auto r = fetch(network, "http://f.test/start");
    EXPECT_TRUE(r.outcome.transferred);
    EXPECT_TRUE(r.outcome.written);
    EXPECT_FALSE(r.outcome.interrupted);
    EXPECT_EQ(r.outcome.httpStatus, 200);
    EXPECT_EQ(r.outcome.error, "");
    EXPECT_EQ(r.outcome.finalUrl, "http://g.test/page");
    EXPECT_EQ(r.outcome.contentType, "text/html; charset=utf-8");
    EXPECT_EQ(r.outcome.headerBlock,
              "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nETag: \"v1\"\r\n"
              "Content-Length: 13\r\n\r\n");
    EXPECT_EQ(r.body, "<html></html>");

    // A whole request, not only an address.
    TransferRequest post;
    post.url = "http://f.test/form";
    post.method = TransferRequest::Method::Post;
    post.formBody = "a=1";
    server.route(post.url, Reply::ok("posted"));
    std::string body;
    const auto outcome = network.download.download(post, [&](const char* data, std::size_t size) {
        body.append(data, size);
        return true;
    });
    EXPECT_TRUE(outcome.transferred);
    EXPECT_EQ(body, "posted");
    EXPECT_EQ(server.requestsFor(post.url).at(0).body, "a=1");
}

TEST_F(WaitingDownloadTest, AStopEndsTheWaitAtOnce) {
    Reply late = Reply::ok("late");
    late.headerDelay = 5s;
    server.route("http://stop.test/late", late);
    Reply dripping = Reply::ok(std::string(100, 'd'));
    dripping.drip = Drip{10, 200ms};
    server.route("http://stop.test/dripping", dripping);
    for (const std::string url : {"http://stop.test/late", "http://stop.test/dripping"}) {
        SCOPED_TRACE(url);
        EngineNetwork network(30);
        const auto start = Clock::now();
        int asked = 0;
        network.download.setInterruption([&] {
            ++asked;
            return Clock::now() - start > 500ms;
        });
        const auto r = fetch(network, url);
        const auto took = Clock::now() - start;
        EXPECT_TRUE(r.outcome.interrupted);
        EXPECT_FALSE(r.outcome.transferred);
        EXPECT_EQ(r.outcome.error, "stopped");
        EXPECT_LT(took, 1500ms);
        EXPECT_GT(asked, 10);  // after every yield
        // The transfer went with the wait.
        EXPECT_EQ(network.engine.running(), 0u);
    }
}

// While one download waits, the windows, every other transfer and a download started from a
// window (inside the wait) go on.
TEST_F(WaitingDownloadTest, OtherWorkGoesOnDuringAWait) {
    Reply slow = Reply::ok("slow page");
    slow.headerDelay = 1500ms;
    server.route("http://w.test/slow", slow);
    server.route("http://w.test/inner", Reply::ok("inner page"));
    Reply steady = Reply::ok(std::string(300, 's'));
    steady.drip = Drip{100, 300ms};
    server.route("http://w.test/steady", steady);
    EngineNetwork network(5);

    struct Counter : TransferListener {
        std::size_t bytes = 0;
        bool ended = false;
        bool onHeaders(const std::string&) override { return true; }
        bool onBody(const char*, std::size_t size) override {
            bytes += size;
            return true;
        }
        void onEnd(const TransferEnd&) override { ended = true; }
    } other;
    TransferRequest steadyRequest;
    steadyRequest.url = "http://w.test/steady";
    network.engine.start(steadyRequest, other);

    Result inner;
    network.frontEnd.onYield = [&](int yields) {
        if (yields == 5) inner = fetch(network, "http://w.test/inner");
    };
    const auto outer = fetch(network, "http://w.test/slow");
    EXPECT_TRUE(outer.outcome.transferred);
    EXPECT_EQ(outer.body, "slow page");
    EXPECT_TRUE(inner.outcome.transferred);
    EXPECT_EQ(inner.body, "inner page");
    EXPECT_TRUE(other.ended);
    EXPECT_EQ(other.bytes, 300u);
    EXPECT_GT(network.frontEnd.yields, 50);
}

// A front end that notes how long each yield may wait.
class RecordingLoop : public EventLoop {
  public:
    void yieldOnce(std::chrono::milliseconds maxBlock) override {
        blocks.push_back(maxBlock);
        if (maxBlock.count() > 0) std::this_thread::sleep_for(maxBlock);
    }
    bool stopPending() const override { return stop; }
    std::vector<std::chrono::milliseconds> blocks;
    bool stop = false;
};

TEST_F(WaitingDownloadTest, TheDrivingLoopWaitsOnTheNetworkWithoutSpinning) {
    Reply mute;
    mute.neverAnswer = true;
    server.route("http://quiet.test/", mute);
    CurlUrlCache cache;
    CurlTransferEngine engine(cache);
    RecordingLoop frontEnd;
    DrivingEventLoop loop(frontEnd, engine);

    // Nothing runs: the front end's own wait.
    loop.yieldOnce(40ms);
    ASSERT_EQ(frontEnd.blocks.size(), 1u);
    EXPECT_EQ(frontEnd.blocks[0], 40ms);
    EXPECT_FALSE(loop.stopPending());
    frontEnd.stop = true;
    EXPECT_TRUE(loop.stopPending());

    // A transfer runs: at most 10 ms on the network, then the front end without a wait.
    struct Silent : TransferListener {
        bool onHeaders(const std::string&) override { return true; }
        bool onBody(const char*, std::size_t) override { return true; }
        void onEnd(const TransferEnd&) override {}
    } listener;
    TransferRequest request;
    request.url = "http://quiet.test/";
    const auto id = engine.start(request, listener);
    frontEnd.blocks.clear();
    const auto cpuBefore = processCpuTime();
    const auto start = Clock::now();
    int yields = 0;
    while (Clock::now() - start < 1s) {
        const auto before = Clock::now();
        loop.yieldOnce(200ms);
        EXPECT_LT(Clock::now() - before, 100ms);  // 10 ms, with room for a busy machine
        ++yields;
    }
    EXPECT_LT(processCpuTime() - cpuBefore, 150ms);
    EXPECT_GT(yields, 20);
    EXPECT_EQ(frontEnd.blocks.size(), static_cast<std::size_t>(yields));
    for (const auto block : frontEnd.blocks) EXPECT_EQ(block, 0ms);
    engine.cancel(id);
}

}  // namespace
}  // namespace velnoria::testing
