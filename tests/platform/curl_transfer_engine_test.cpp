#include "platform/curl/curl_transfer_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/text.h"
#include "tests/platform/transfer_test_helpers.h"
#include "tests/support/network_bench.h"
#include "tests/support/test_http_server.h"

namespace velnoria::testing {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;
using Method = TransferRequest::Method;

constexpr auto kBound = 30s;

// Everything a transfer told its listener, in order.
struct Recorder : TransferListener {
    std::string headerBlock;
    int headerCalls = 0;
    std::string body;
    std::uint64_t bodyBytes = 0;
    bool keepBody = true;
    bool bodyBeforeHeaders = false;
    TransferEnd end;
    int ends = 0;
    // Listener answers: false ends the transfer.
    bool acceptHeaders = true;
    std::uint64_t refuseAfterBytes = UINT64_MAX;
    std::function<void()> afterEnd;

    bool onHeaders(const std::string& block) override {
        ++headerCalls;
        headerBlock = block;
        return acceptHeaders;
    }
    bool onBody(const char* data, std::size_t size) override {
        if (headerCalls == 0) bodyBeforeHeaders = true;
        bodyBytes += size;
        if (keepBody) body.append(data, size);
        return bodyBytes <= refuseAfterBytes;
    }
    void onEnd(const TransferEnd& transferEnd) override {
        ++ends;
        end = transferEnd;
        if (afterEnd) afterEnd();
    }
};

TransferRequest get(const std::string& url) {
    TransferRequest request;
    request.url = url;
    return request;
}

class CurlTransferEngineTest : public ::testing::Test {
  protected:
    Watchdog watchdog{110s};
    // Every request goes through the test server, whatever host it names.
    TestHttpServer server;
    ScopedProxy proxy{server};
    CurlUrlCache cache;
    CurlTransferEngine engine{cache};

    // Drives until every recorder has heard its end; fails the test after `bound`.
    void runUntilEnded(const std::vector<const Recorder*>& recorders,
                       std::chrono::milliseconds bound = kBound) {
        const auto start = Clock::now();
        const auto allEnded = [&] {
            for (const Recorder* r : recorders) {
                if (r->ends == 0) return false;
            }
            return true;
        };
        while (!allEnded()) {
            if (Clock::now() - start > bound) {
                ADD_FAILURE() << "transfers still running after " << bound.count() << " ms";
                return;
            }
            engine.drive(10ms);
        }
    }

    Recorder fetch(const TransferRequest& request) {
        Recorder recorder;
        engine.start(request, recorder);
        runUntilEnded({&recorder});
        return recorder;
    }
    Recorder fetch(const std::string& url) { return fetch(get(url)); }
};

TEST_F(CurlTransferEngineTest, BodyEqualsTheBytesServed) {
    std::uint32_t seed = 0;
    for (const std::uint64_t size : {0ull, 1ull, 1000ull, 102400ull, 300001ull, 65536ull}) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::string url = "http://img.host.test/" + std::to_string(++seed) + ".jpg";
        server.route(url, Reply::generated(size, seed));
        const Recorder r = fetch(url);
        ASSERT_EQ(r.ends, 1);
        EXPECT_EQ(r.end.failureCode, 0);
        EXPECT_EQ(r.end.httpStatus, 200);
        EXPECT_EQ(r.end.bodyBytes, size);
        EXPECT_FALSE(r.end.cutShort);
        EXPECT_EQ(r.end.finalUrl, url);
        EXPECT_EQ(headerValue(r.headerBlock, "Content-Length"), std::to_string(size));
        EXPECT_EQ(r.headerCalls, 1);
        EXPECT_EQ(r.ends, 1);
        EXPECT_TRUE(r.body == generatedBytes(size, seed));
    }
    EXPECT_EQ(engine.running(), 0u);
}

// 16 large files at once go straight from the network to their listeners.
TEST_F(CurlTransferEngineTest, ManyLargeBodiesAtOnceInBoundedMemory) {
    constexpr int kFiles = 16;
    constexpr std::uint64_t kSize = 12ull << 20;
    [[maybe_unused]] const long peakBefore = peakResidentKiB();
    std::vector<Recorder> recorders(kFiles);
    std::vector<const Recorder*> all;
    for (int i = 0; i < kFiles; ++i) {
        const std::string url =
            "http://big" + std::to_string(i % 4) + ".test/" + std::to_string(i) + ".bin";
        server.route(url, Reply::generated(kSize, 100 + i));
        recorders[i].keepBody = false;
        engine.start(get(url), recorders[i]);
        all.push_back(&recorders[i]);
    }
    EXPECT_EQ(engine.running(), static_cast<std::size_t>(kFiles));
    runUntilEnded(all, 100s);
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_EQ(recorders[i].ends, 1) << i;
        EXPECT_EQ(recorders[i].end.failureCode, 0) << i;
        EXPECT_EQ(recorders[i].bodyBytes, kSize) << i;
    }
#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer holds freed memory back: the peak says nothing
    EXPECT_LT(peakResidentKiB() - peakBefore, 24 * 1024);
#endif
}

TEST_F(CurlTransferEngineTest, HeadGivesHeadersAndNoBody) {
    server.route("http://h.test/a.jpg", Reply::ok("0123456789", "image/jpeg"));
    TransferRequest head = get("http://h.test/a.jpg");
    head.method = Method::Head;
    head.maxBodyBytes = 5;  // no body comes, so none is too long
    const Recorder r = fetch(head);
    EXPECT_EQ(r.end.failureCode, 0);
    EXPECT_EQ(headerValue(r.headerBlock, "content-length"), "10");
    EXPECT_EQ(headerValue(r.headerBlock, "Content-Type"), "image/jpeg");
    EXPECT_EQ(r.body, "");
    // The handle goes back to GET afterwards.
    EXPECT_EQ(fetch("http://h.test/a.jpg").body, "0123456789");
    const auto log = server.requestsFor("http://h.test/a.jpg");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].method, "HEAD");
    EXPECT_EQ(log[1].method, "GET");
    EXPECT_EQ(log[0].connection, log[1].connection);
}

TEST_F(CurlTransferEngineTest, HeaderBlockAsReceived) {
    Reply reply = Reply::ok("body", "text/plain");
    reply.headers.emplace_back("X-Dup", "first");
    reply.headers.emplace_back("x-dup", "second");
    reply.headers.emplace_back("X-Spaced", "  padded value\t");
    server.route("http://h.test/page", reply);
    const Recorder r = fetch("http://h.test/page");
    EXPECT_EQ(r.headerBlock,
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nX-Dup: first\r\nx-dup: second\r\n"
              "X-Spaced:   padded value\t\r\nContent-Length: 4\r\n\r\n");
}

TEST_F(CurlTransferEngineTest, RedirectsAndInterimAnswersLeadToTheFinalHeaders) {
    Reply final = Reply::ok("final body", "image/png");
    final.interim = "HTTP/1.1 100 Continue\r\n\r\n";
    Reply withBody = Reply::redirect("/last", 302);
    withBody.body = std::string(3000, 'm');
    server.route("http://a.test/start", Reply::redirect("http://b.test/next", 301));
    server.route("http://b.test/next", withBody);
    server.route("http://b.test/last", final);
    const Recorder r = fetch("http://a.test/start");

    EXPECT_EQ(r.end.failureCode, 0);
    EXPECT_TRUE(r.headerBlock.starts_with("HTTP/1.1 200 OK\r\n")) << r.headerBlock;
    EXPECT_EQ(headerValue(r.headerBlock, "Location"), "");
    EXPECT_EQ(headerValue(r.headerBlock, "Content-Type"), "image/png");
    EXPECT_EQ(r.headerCalls, 1);
    EXPECT_EQ(r.body, "final body");
    EXPECT_EQ(r.end.finalUrl, "http://b.test/last");
    // The redirect's body was read to its end: its connection served the next hop.
    const auto log = server.requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].connection, log[2].connection);
}

TEST_F(CurlTransferEngineTest, FailuresBelowHttpGiveACodeAndAReason) {
    server.route("http://loop.test/x", Reply::redirect("http://loop.test/x"));
    server.route("http://ftp.test/x", Reply::redirect("ftp://files.test/a.jpg"));
    server.route("http://file.test/x", Reply::redirect("file:///etc/passwd"));
    Reply reset = Reply::generated(200000);
    reset.resetAfterBodyBytes = 30000;
    server.route("http://reset.test/x", reset);
    Reply hugeHeaders = Reply::ok("x");
    for (int i = 0; i < 80; ++i)
        hugeHeaders.headers.emplace_back("X-Big-" + std::to_string(i), std::string(4000, 'h'));
    server.route("http://huge.test/x", hugeHeaders);
    // Framing that cannot be trusted: a header block the connection cut off, two lengths, and a
    // length that is not a plain number (libcurl would take the digits it begins with).
    Reply unended;
    unended.raw = "HTTP/1.1 200 OK\r\nX-A: b\r\n";
    server.route("http://unended.test/x", unended);
    const auto lengths = [](std::vector<std::string> values) {
        Reply odd = Reply::generated(1032);
        odd.headers.clear();
        for (auto& value : values) odd.headers.emplace_back("Content-Length", std::move(value));
        odd.closeConnection = true;
        return odd;
    };
    server.route("http://two-lengths.test/x", lengths({"10", "40"}));
    server.route("http://two-lengths-b.test/x", lengths({"5", "1032"}));
    server.route("http://empty-length.test/x", lengths({""}));  // libcurl refuses it itself
    server.route("http://past-any-file.test/x", lengths({"2147483648"}));
    const std::vector<std::string> oddLengths = {"6x",        "100abc", "+1032", "1032 1032",
                                                 "1032,1032", "0x10",   "1e3"};
    for (std::size_t i = 0; i < oddLengths.size(); ++i) {
        server.route("http://odd-length.test/" + std::to_string(i), lengths({oddLengths[i]}));
    }
    // A body past the caller's bound: announced, and not announced.
    server.route("http://long.test/sized", Reply::generated(3000));
    Reply unsized = Reply::generated(3000);
    unsized.autoContentLength = false;
    server.route("http://long.test/unsized", unsized);
    Reply huge = Reply::ok("");
    huge.autoContentLength = false;
    huge.headers = {{"Content-Length", "209715200"}};
    server.route("http://long.test/huge", huge);

    struct Case {
        std::string url;
        std::string reason;
        std::uint64_t maxBodyBytes = 0;
    };
    std::vector<Case> cases = {
        {"http://loop.test/x", "too many redirects"},
        {"http://ftp.test/x", "not an http(s) address"},
        {"http://file.test/x", "not an http(s) address"},
        {"http://reset.test/x", "connection reset"},
        {"http://huge.test/x", "header block too large"},
        {"http://unended.test/x", "invalid answer: header block cut short"},
        {"http://two-lengths.test/x", "invalid answer: Content-Length 10 and 40"},
        {"http://two-lengths-b.test/x", "invalid answer: Content-Length 5 and 1032"},
        {"http://empty-length.test/x", "invalid answer"},
        {"http://past-any-file.test/x", "longer than 2147483647 bytes"},
        {"http://long.test/sized", "longer than 2999 bytes", 2999},
        {"http://long.test/unsized", "longer than 2999 bytes", 2999},
        {"http://long.test/huge", "longer than 128 MiB", 128u << 20},
    };
    for (std::size_t i = 0; i < oddLengths.size(); ++i) {
        cases.push_back({"http://odd-length.test/" + std::to_string(i),
                         "invalid answer: Content-Length is not a number"});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        TransferRequest request = get(c.url);
        request.maxBodyBytes = c.maxBodyBytes;
        const Recorder r = fetch(request);
        ASSERT_EQ(r.ends, 1);
        EXPECT_GT(r.end.failureCode, 0);
        EXPECT_EQ(r.end.failureReason, c.reason);
        if (c.url.find("length") != std::string::npos) {
            // Nothing of an answer that cannot be framed reaches the listener.
            EXPECT_EQ(r.headerCalls, 0);
            EXPECT_EQ(r.body, "");
        }
        if (c.maxBodyBytes > 0) {
            EXPECT_LE(r.bodyBytes, c.maxBodyBytes);
        }
    }
    // The last answer counts; a redirect is an answer.
    server.route("http://loop.test/x", Reply::redirect("http://loop.test/x"));
    EXPECT_EQ(fetch("http://loop.test/x").end.httpStatus, 302);
    EXPECT_EQ(server.requestsFor("http://loop.test/x").size(), 2 * 11u);
}

TEST_F(CurlTransferEngineTest, ARedirectsOwnLengthIsOfNoMatter) {
    Reply oddRedirect = Reply::redirect("http://d.test/ok");
    oddRedirect.body = "moved!";
    oddRedirect.headers.push_back({"Content-Length", "6x"});
    server.route("http://d.test/odd-redirect", oddRedirect);
    server.route("http://d.test/ok", Reply::ok("fine"));
    const Recorder r = fetch("http://d.test/odd-redirect");
    EXPECT_EQ(r.end.failureCode, 0);
    EXPECT_EQ(r.body, "fine");
}

TEST_F(CurlTransferEngineTest, ConnectionRefusedGivesACode) {
    ScopedEnv deadProxy("http_proxy", "http://127.0.0.1:" + std::to_string(closedPort()));
    engine.setTimeoutSeconds(5);
    const Recorder r = fetch("http://nobody.test/a.jpg");
    EXPECT_GT(r.end.failureCode, 0);
    EXPECT_EQ(r.end.failureReason, "connection refused");
    EXPECT_EQ(r.end.httpStatus, 0);
    EXPECT_EQ(r.headerCalls, 0);
}

TEST_F(CurlTransferEngineTest, BodyCutShortByACleanCloseJustEnds) {
    Reply shortBody = Reply::generated(50000, 3);
    shortBody.closeAfterBodyBytes = 20000;
    server.route("http://short.test/a.jpg", shortBody);
    Reply shortChunked = Reply::ok(std::string(50000, 'c'));
    shortChunked.chunked = true;
    shortChunked.closeAfterBodyBytes = 20000;
    server.route("http://short.test/chunked", shortChunked);
    Reply unsized = Reply::generated(5000, 4);
    unsized.autoContentLength = false;
    server.route("http://short.test/unsized", unsized);

    const Recorder r = fetch("http://short.test/a.jpg");
    EXPECT_EQ(headerValue(r.headerBlock, "Content-Length"), "50000");
    EXPECT_TRUE(r.body == generatedBytes(20000, 3));
    EXPECT_EQ(r.end.failureCode, 0);
    EXPECT_TRUE(r.end.cutShort);
    EXPECT_EQ(r.end.bodyBytes, 20000u);

    const Recorder chunked = fetch("http://short.test/chunked");
    EXPECT_EQ(chunked.end.failureCode, 0);
    EXPECT_TRUE(chunked.end.cutShort);
    EXPECT_LT(chunked.bodyBytes, 50000u);

    // Without a length, the close is the end.
    const Recorder whole = fetch("http://short.test/unsized");
    EXPECT_EQ(whole.end.failureCode, 0);
    EXPECT_FALSE(whole.end.cutShort);
    EXPECT_TRUE(whole.body == generatedBytes(5000, 4));
}

TEST_F(CurlTransferEngineTest, OddHeadersAreHandledCleanly) {
    struct Case {
        std::string name;
        std::string rawHeaders;
        bool fine;  // libcurl refuses what it cannot read safely: the request fails
    };
    const std::vector<Case> cases = {
        {"empty value and a long one", "X-Empty:\r\nX-Long: " + std::string(60000, 'v') + "\r\n",
         true},
        {"NUL byte", "X-Nul: a\0b\r\n"s, false},
        {"line without a colon", "no colon here\r\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reply odd = Reply::ok("body");
        odd.rawHeaderBytes = c.rawHeaders;
        server.route("http://odd.test/x", odd);
        const Recorder r = fetch("http://odd.test/x");
        EXPECT_EQ(r.end.failureCode == 0, c.fine);
        EXPECT_EQ(r.body, c.fine ? "body" : "");
        EXPECT_EQ(headerValue(r.headerBlock, "X-Long").size(), c.fine ? 60000u : 0u);
    }
}

TEST_F(CurlTransferEngineTest, TimeOutEndsSilentRequests) {
    struct Case {
        std::string name;
        Reply reply;
        int timeout;
        bool fails;
    };
    Reply late = Reply::ok("late");
    late.headerDelay = 2500ms;
    Reply soon = Reply::ok("soon");
    soon.headerDelay = 600ms;
    Reply silent = Reply::generated(1000);
    silent.silenceAfterHeaders = true;
    Reply mute;
    mute.neverAnswer = true;
    // A byte now and then is no sign of life: the least rate is 100 bytes a second.
    Reply drip = Reply::ok(std::string(40, 'd'));
    drip.drip = Drip{1, 400ms};
    Reply steady = Reply::ok(std::string(600, 's'));
    steady.drip = Drip{150, 500ms};
    Reply shortDrip = Reply::ok("abcde");
    shortDrip.drip = Drip{1, 400ms};
    const std::vector<Case> cases = {
        {"headers later than the time-out", late, 1, true},
        {"headers within the time-out", soon, 1, false},
        {"no time-out at all", late, 0, false},
        {"silence after the headers", silent, 1, true},
        {"never an answer", mute, 1, true},
        {"a drip below the least rate", drip, 1, true},
        {"a slow but steady body", steady, 1, false},
        {"a drip with no time-out", shortDrip, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string url = "http://slow.test/" + std::to_string(&c - cases.data());
        server.route(url, c.reply);
        engine.setTimeoutSeconds(c.timeout);
        const auto start = Clock::now();
        const Recorder r = fetch(url);
        const auto took = Clock::now() - start;
        if (c.fails) {
            EXPECT_GT(r.end.failureCode, 0);
            EXPECT_EQ(r.end.failureReason, "timed out");
            EXPECT_GE(took, std::chrono::seconds(c.timeout));
            EXPECT_LT(took, std::chrono::seconds(c.timeout) + 1s);
        } else {
            EXPECT_EQ(r.end.failureCode, 0);
            EXPECT_EQ(r.body, c.reply.body);
        }
    }
}

// Every transfer counts the silence, however many run: two silent servers at once both time out,
// beside a transfer that goes on.
TEST_F(CurlTransferEngineTest, SilenceCountsForEveryTransferAtOnce) {
    Reply mute;
    mute.neverAnswer = true;
    Reply silent = Reply::generated(1000);
    silent.silenceAfterHeaders = true;
    Reply steady = Reply::ok(std::string(1000, 's'));
    steady.drip = Drip{200, 300ms};
    server.route("http://mute.test/a", mute);
    server.route("http://silent.test/b", silent);
    server.route("http://steady.test/c", steady);
    engine.setTimeoutSeconds(1);
    Recorder a, b, c;
    const auto start = Clock::now();
    engine.start(get("http://mute.test/a"), a);
    engine.start(get("http://silent.test/b"), b);
    engine.start(get("http://steady.test/c"), c);
    runUntilEnded({&a, &b}, 5s);
    const auto took = Clock::now() - start;
    EXPECT_EQ(a.end.failureReason, "timed out");
    EXPECT_EQ(b.end.failureReason, "timed out");
    EXPECT_GE(took, 1s);
    EXPECT_LT(took, 2500ms);
    runUntilEnded({&c});
    EXPECT_EQ(c.end.failureCode, 0);
    EXPECT_EQ(c.body, steady.body);
}

TEST_F(CurlTransferEngineTest, TimeTheCallerSpendsElsewhereIsNoStall) {
    Reply late = Reply::ok("late but fine");
    late.headerDelay = 1500ms;
    server.route("http://away.test/headers", late);
    Reply slowBody = Reply::ok(std::string(600, 'b'));
    slowBody.drip = Drip{300, 200ms};
    server.route("http://away.test/body", slowBody);
    engine.setTimeoutSeconds(1);

    // A user holds the program (Pause) between drives while the server takes its time.
    for (const std::string url : {"http://away.test/headers", "http://away.test/body"}) {
        SCOPED_TRACE(url);
        Recorder r;
        engine.start(get(url), r);
        for (int pass = 0; pass < 10 && r.ends == 0; ++pass) {
            engine.drive(10ms);
            std::this_thread::sleep_for(800ms);
        }
        ASSERT_EQ(r.ends, 1);
        EXPECT_EQ(r.end.failureCode, 0) << r.end.failureReason;
        EXPECT_FALSE(r.body.empty());
    }
}

TEST_F(CurlTransferEngineTest, WaitingForASlowAnswerBurnsLittleCpu) {
    Reply slow = Reply::ok("slow");
    slow.headerDelay = 2s;
    server.route("http://slow.test/cpu", slow);
    Reply dripping = Reply::ok("drip");
    dripping.drip = Drip{1, 500ms};
    server.route("http://slow.test/cpu2", dripping);
    for (const std::string url : {"http://slow.test/cpu", "http://slow.test/cpu2"}) {
        const auto cpuBefore = processCpuTime();
        const Recorder r = fetch(url);
        const auto cpu = processCpuTime() - cpuBefore;
        EXPECT_EQ(r.end.failureCode, 0);
        EXPECT_LT(cpu, 100ms) << url << ": " << cpu.count() << " us";
    }
}

TEST_F(CurlTransferEngineTest, RequestHeadersAfterCacheEntryDeleted) {
    server.route("http://c.test/a.jpg", Reply::ok("a"));
    server.route("http://c.test/b.jpg", Reply::ok("b"));
    fetch("http://c.test/a.jpg");
    cache.deleteEntry("http://c.test/a.jpg");
    fetch("http://c.test/a.jpg");
    fetch("http://c.test/b.jpg");

    const auto log = server.requests();
    ASSERT_EQ(log.size(), 3u);
    for (const auto& request : log) {
        EXPECT_EQ(request.header("User-Agent"), "Mozilla/5.0 (compatible; VelnoriaMorvath/2.2)");
        EXPECT_FALSE(request.hasHeader("Accept-Encoding"));
        EXPECT_FALSE(request.hasHeader("Referer"));
        EXPECT_FALSE(request.hasHeader("Cookie"));
        EXPECT_FALSE(request.hasHeader("Range"));
    }
    EXPECT_FALSE(log[0].hasHeader("Cache-Control"));
    EXPECT_EQ(log[1].header("Cache-Control"), "no-cache");
    EXPECT_EQ(log[1].header("Pragma"), "no-cache");
    EXPECT_FALSE(log[2].hasHeader("Cache-Control"));
    EXPECT_FALSE(log[2].hasHeader("Pragma"));

    engine.setUserAgent("Mozilla/5.0 (X11; Linux x86_64) Browser/1.0");
    fetch("http://c.test/b.jpg");
    engine.setUserAgent("Bad\r\nX-Injected: 1");  // refused: the one before stays
    fetch("http://c.test/b.jpg");
    const auto later = server.requestsFor("http://c.test/b.jpg");
    ASSERT_EQ(later.size(), 3u);
    EXPECT_EQ(later[1].header("User-Agent"), "Mozilla/5.0 (X11; Linux x86_64) Browser/1.0");
    EXPECT_EQ(later[2].header("User-Agent"), "Mozilla/5.0 (X11; Linux x86_64) Browser/1.0");
    EXPECT_FALSE(later[2].hasHeader("X-Injected"));
}

TEST_F(CurlTransferEngineTest, BodyIsNotDecoded) {
    const std::string bytes = "\x1f\x8b not really gzip \0\xff"s;
    Reply encoded = Reply::ok(bytes);
    encoded.headers.emplace_back("Content-Encoding", "gzip");
    server.route("http://www.example-host.test/a.jpg", encoded);
    const Recorder r = fetch("http://www.example-host.test/a.jpg");
    EXPECT_EQ(r.end.failureCode, 0);
    EXPECT_EQ(r.body, bytes);
    // Reached through http_proxy: the server saw the absolute address.
    EXPECT_EQ(server.requestsFor("http://www.example-host.test/a.jpg").size(), 1u);
}

TEST_F(CurlTransferEngineTest, ConnectionsAreReusedButNotAfterCancel) {
    server.route("http://k.test/1", Reply::generated(5000));
    server.route("http://k.test/sized", Reply::generated(524288, 2));
    server.route("http://k.test/big", Reply::generated(64 << 20));
    fetch("http://k.test/1");
    EXPECT_TRUE(fetch("http://k.test/sized").body == generatedBytes(524288, 2));
    // Cancelled in the middle of its body.
    Recorder big;
    big.keepBody = false;
    const auto id = engine.start(get("http://k.test/big"), big);
    const auto start = Clock::now();
    while (big.bodyBytes < 100000 && Clock::now() - start < kBound) engine.drive(10ms);
    engine.cancel(id);
    EXPECT_EQ(engine.running(), 0u);
    for (int i = 0; i < 5; ++i) engine.drive(1ms);
    EXPECT_EQ(big.ends, 0);  // a cancelled transfer is silent
    EXPECT_TRUE(fetch("http://k.test/1").body == generatedBytes(5000));

    const auto log = server.requests();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].connection, log[1].connection);
    EXPECT_EQ(log[1].connection, log[2].connection);
    EXPECT_NE(log[2].connection, log[3].connection);  // the half-read one was dropped
}

// A server whose answer runs on past its length leaves stray bytes on a kept-alive connection;
// the next request on it fails before any answer and is sent again on a fresh one.
TEST_F(CurlTransferEngineTest, ARequestLostOnAKeptConnectionIsSentOnceMore) {
    const std::string image(5000, 'a');
    Reply runsOn = Reply::ok(image + "\xff\xd9 and the uncounted rest of the image");
    runsOn.headers.push_back({"Content-Length", std::to_string(image.size())});
    runsOn.drip = Drip{image.size(), 100ms};
    server.route("http://stray.test/a.jpg", runsOn);
    server.route("http://stray.test/b.jpg", Reply::ok("b"));
    EXPECT_EQ(fetch("http://stray.test/a.jpg").body, image);
    std::this_thread::sleep_for(300ms);  // the stray bytes arrive
    const Recorder b = fetch("http://stray.test/b.jpg");
    EXPECT_EQ(b.end.failureCode, 0) << b.end.failureReason;
    EXPECT_EQ(b.body, "b");
    const auto log = server.requests();
    ASSERT_GE(log.size(), 2u);
    EXPECT_NE(log.front().connection, log.back().connection);
}

TEST_F(CurlTransferEngineTest, ManySmallFilesInARowShareOneConnection) {
    constexpr int kFiles = 500;
    for (int i = 0; i < kFiles; ++i) {
        server.route("http://small.test/" + std::to_string(i), Reply::generated(8192, i));
    }
    int good = 0;
    for (int i = 0; i < kFiles; ++i) {
        const Recorder r = fetch("http://small.test/" + std::to_string(i));
        if (r.ends == 1 && r.end.failureCode == 0 && r.body == generatedBytes(8192, i)) ++good;
    }
    EXPECT_EQ(good, kFiles);
    EXPECT_EQ(server.connectionsAccepted(), 1);
}

TEST_F(CurlTransferEngineTest, TheListenerIsToldAsPromised) {
    server.route("http://l.test/file", Reply::generated(300000, 7));
    server.route("http://l.test/next", Reply::ok("next"));

    // Nothing is told from inside start(); headers once, before any byte; the end last.
    Recorder plain;
    engine.start(get("http://l.test/file"), plain);
    EXPECT_EQ(plain.headerCalls + plain.ends, 0);
    runUntilEnded({&plain});
    EXPECT_EQ(plain.headerCalls, 1);
    EXPECT_FALSE(plain.bodyBeforeHeaders);
    EXPECT_EQ(plain.ends, 1);

    struct Case {
        std::string name;
        bool acceptHeaders;
        std::uint64_t refuseAfter;
        std::uint64_t mostBytes;
    };
    for (const auto& c : std::vector<Case>{{"headers refused", false, UINT64_MAX, 0},
                                           {"body refused", true, 1000, 70000}}) {
        SCOPED_TRACE(c.name);
        Recorder r;
        r.acceptHeaders = c.acceptHeaders;
        r.refuseAfterBytes = c.refuseAfter;
        r.keepBody = false;
        engine.start(get("http://l.test/file"), r);
        runUntilEnded({&r});
        EXPECT_EQ(r.ends, 1);
        EXPECT_EQ(r.end.failureCode, 0);
        EXPECT_TRUE(r.end.endedByListener);
        EXPECT_LE(r.bodyBytes, c.mostBytes);
        EXPECT_EQ(r.end.bodyBytes, r.bodyBytes);
    }

    // onEnd may start the next transfer.
    Recorder second;
    Recorder first;
    first.afterEnd = [&] { engine.start(get("http://l.test/next"), second); };
    engine.start(get("http://l.test/next"), first);
    runUntilEnded({&first, &second});
    EXPECT_EQ(second.body, "next");
    EXPECT_EQ(engine.running(), 0u);
}

TEST_F(CurlTransferEngineTest, PostSendsItsFormBody) {
    server.route("http://form.test/search", Reply::ok("results"));
    TransferRequest post = get("http://form.test/search");
    post.method = Method::Post;
    post.formBody = "q=a%20b&page=2&big=" + std::string(5000, 'x');
    const Recorder r = fetch(post);
    EXPECT_EQ(r.body, "results");
    const auto log = server.requestsFor("http://form.test/search");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(log[0].body, post.formBody);
    EXPECT_FALSE(log[0].hasHeader("Expect"));

    // After a 302 or 303 the next hop is a GET, after a 307 a POST again.
    server.route("http://form.test/found", Reply::redirect("/done", 302));
    server.route("http://form.test/seeother", Reply::redirect("/done", 303));
    server.route("http://form.test/keep", Reply::redirect("/done", 307));
    server.route("http://form.test/done", Reply::ok("done"));
    for (const auto& [from, method] :
         std::vector<std::pair<std::string, std::string>>{{"http://form.test/found", "GET"},
                                                          {"http://form.test/seeother", "GET"},
                                                          {"http://form.test/keep", "POST"}}) {
        post.url = from;
        post.formBody = "a=1";
        EXPECT_EQ(fetch(post).body, "done");
        const auto done = server.requestsFor("http://form.test/done");
        ASSERT_FALSE(done.empty());
        EXPECT_EQ(done.back().method, method) << from;
        EXPECT_EQ(done.back().body, method == "POST" ? "a=1" : "") << from;
    }
}

TEST_F(CurlTransferEngineTest, ExtraHeadersAndRanges) {
    server.route("http://x.test/a", Reply::ok("a"));
    TransferRequest request = get("http://x.test/a");
    request.headers = {"X-Requested-With: XMLHttpRequest", "Accept-Language: de"};
    request.resumeFrom = 1234;
    request.ifRange = "\"etag-1\"";
    fetch(request);
    request.ifRange.clear();
    fetch(request);
    const auto log = server.requestsFor("http://x.test/a");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].header("X-Requested-With"), "XMLHttpRequest");
    EXPECT_EQ(log[0].header("Accept-Language"), "de");
    EXPECT_EQ(log[0].header("Range"), "bytes=1234-");
    EXPECT_EQ(log[0].header("If-Range"), "\"etag-1\"");
    EXPECT_EQ(log[1].header("Range"), "bytes=1234-");
    EXPECT_FALSE(log[1].hasHeader("If-Range"));
}

TEST_F(CurlTransferEngineTest, ARequestThatWouldBreakItsHeaderLinesIsNeverSent) {
    server.route("http://x.test/a", Reply::ok("a"));
    const auto broken = [](auto change) {
        TransferRequest request = get("http://x.test/a");
        change(request);
        return request;
    };
    const std::vector<TransferRequest> cases = {
        broken([](auto& r) { r.headers = {"X-A: 1\r\nX-Injected: 2"}; }),
        broken([](auto& r) { r.headers = {"X-A: 1\nGET /other HTTP/1.1"}; }),
        broken([](auto& r) { r.headers = {"X-A: 1\0b"s}; }),
        broken([](auto& r) { r.hostCookies = "a=1\r\nX-Injected: 2"; }),
        broken([](auto& r) {
            r.resumeFrom = 5;
            r.ifRange = "x\r\nX-Injected: 2";
        }),
    };
    for (const auto& request : cases) {
        Recorder r;
        engine.start(request, r);
        EXPECT_EQ(r.ends, 0);  // told at the next drive, not inside start()
        engine.drive(1000ms);
        ASSERT_EQ(r.ends, 1);
        EXPECT_GT(r.end.failureCode, 0);
        EXPECT_EQ(r.end.failureReason, "invalid request: a header line breaks");
    }
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(server.connectionsAccepted(), 0);
}

TEST_F(CurlTransferEngineTest, HostCookiesStayWithTheirHost) {
    server.route("http://forum.test/img/1", Reply::redirect("/img/1.jpg"));
    server.route("http://forum.test/img/1.jpg", Reply::ok("1"));
    server.route("http://forum.test/img/2", Reply::redirect("http://cdn.test/2.jpg"));
    server.route("http://cdn.test/2.jpg", Reply::redirect("http://forum.test/img/back"));
    server.route("http://forum.test/img/back", Reply::ok("2"));
    TransferRequest request = get("http://forum.test/img/1");
    request.hostCookies = "session=s3cret; theme=dark";
    EXPECT_EQ(fetch(request).body, "1");
    request.url = "http://forum.test/img/2";
    EXPECT_EQ(fetch(request).body, "2");

    struct Case {
        std::string url;
        std::string cookie;
    };
    for (const auto& c :
         std::vector<Case>{{"http://forum.test/img/1", "session=s3cret; theme=dark"},
                           {"http://forum.test/img/1.jpg", "session=s3cret; theme=dark"},
                           {"http://forum.test/img/2", "session=s3cret; theme=dark"},
                           {"http://cdn.test/2.jpg", ""},
                           // once it left the host, never again
                           {"http://forum.test/img/back", ""}}) {
        const auto log = server.requestsFor(c.url);
        ASSERT_EQ(log.size(), 1u) << c.url;
        EXPECT_EQ(log[0].header("Cookie"), c.cookie) << c.url;
    }
}

TEST_F(CurlTransferEngineTest, TheCookieJarSendsWhatABrowserWould) {
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    const auto cookie = [](std::string domain, bool subdomains, std::string path, std::string name,
                           bool secure = false, std::int64_t expires = 0, bool httpOnly = false) {
        Cookie c;
        c.domain = std::move(domain);
        c.includeSubdomains = subdomains;
        c.path = std::move(path);
        c.name = std::move(name);
        c.value = "v";
        c.secure = secure;
        c.expires = expires;
        c.httpOnly = httpOnly;
        return c;
    };
    engine.replaceCookies(
        {cookie("jar.test", false, "/", "host"), cookie("jar.test", true, "/", "wide"),
         cookie("jar.test", false, "/shop", "shop"), cookie("jar.test", false, "/", "secure", true),
         cookie("jar.test", false, "/", "expired", false, now - 3600),
         cookie("jar.test", false, "/", "later", false, now + 3600),
         cookie("jar.test", false, "/", "httponly", false, 0, true),
         cookie("other.test", true, "/", "other")});
    struct Case {
        std::string url;
        std::vector<std::string> sent;
    };
    const std::vector<Case> cases = {
        {"http://jar.test/", {"host", "wide", "later", "httponly"}},
        {"http://jar.test/shop/item", {"host", "wide", "shop", "later", "httponly"}},
        {"http://img.jar.test/a.jpg", {"wide"}},
        {"http://elsewhere.test/", {}},
    };
    for (const auto& c : cases) {
        server.route(c.url, Reply::ok("x"));
        fetch(c.url);
        const auto log = server.requestsFor(c.url);
        ASSERT_EQ(log.size(), 1u) << c.url;
        const std::string line = log[0].header("Cookie");
        std::vector<std::string> names;
        for (std::string_view rest = line; !rest.empty();) {
            const std::string_view part = rest.substr(0, rest.find(';'));
            rest.remove_prefix(std::min(rest.size(), part.size() + 1));
            const std::string_view pair = trim(part);
            names.emplace_back(pair.substr(0, pair.find('=')));
        }
        std::sort(names.begin(), names.end());
        std::vector<std::string> expected = c.sent;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected) << c.url << ": " << line;
    }

    // What an answer sets goes with the next request, beside the host's own cookies, on one line.
    Reply setting = Reply::ok("logged in");
    setting.headers.emplace_back("Set-Cookie", "token=abc; Path=/");
    server.route("http://login.test/in", setting);
    server.route("http://login.test/page", Reply::ok("page"));
    fetch("http://login.test/in");
    TransferRequest next = get("http://login.test/page");
    next.hostCookies = "extra=1";
    fetch(next);
    const auto page = server.requestsFor("http://login.test/page");
    ASSERT_EQ(page.size(), 1u);
    int cookieLines = 0;
    for (const auto& [name, value] : page[0].headers) cookieLines += sameNoCase(name, "Cookie");
    EXPECT_EQ(cookieLines, 1);
    EXPECT_EQ(page[0].header("Cookie"), "token=abc; extra=1");

    // Replaced: exactly the new cookies, what answers set included.
    engine.replaceCookies({cookie("login.test", false, "/", "fresh")});
    fetch("http://login.test/page");
    EXPECT_EQ(server.requestsFor("http://login.test/page").back().header("Cookie"), "fresh=v");
}

TEST_F(CurlTransferEngineTest, ThousandsOfCookiesLoadQuickly) {
    std::vector<Cookie> cookies;
    for (int i = 0; i < 5000; ++i) {
        Cookie c;
        c.domain = "site" + std::to_string(i % 700) + ".test";
        c.name = "c" + std::to_string(i);
        c.value = std::string(40, 'v');
        cookies.push_back(c);
    }
    // The better of two loads, so that a moment the machine is busy elsewhere does not count.
    auto took = Clock::duration::max();
    for (int i = 0; i < 2; ++i) {
        const auto start = Clock::now();
        engine.replaceCookies(cookies);
        took = std::min(took, Clock::now() - start);
    }
    EXPECT_LT(took, 100ms) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
    server.route("http://site7.test/", Reply::ok("x"));
    fetch("http://site7.test/");
    const std::string line = server.requestsFor("http://site7.test/").at(0).header("Cookie");
    EXPECT_NE(line.find("c7="), std::string::npos);
    EXPECT_NE(line.find("c4907="), std::string::npos);
    EXPECT_EQ(line.find("c8="), std::string::npos);
}

TEST_F(CurlTransferEngineTest, TheRefererFollowsThePolicyOnEveryHop) {
    server.route("http://forum.test/go", Reply::redirect("http://cdn.test/img.jpg"));
    server.route("http://cdn.test/img.jpg", Reply::ok("img"));
    server.route("http://forum.test/same.jpg", Reply::ok("same"));
    server.route("http://forum.test/down", Reply::redirect("http://plain.test/x.jpg"));
    server.route("http://plain.test/x.jpg", Reply::ok("x"));
    struct Case {
        std::string page;
        std::string url;
        std::vector<std::pair<std::string, std::string>> sent;  // hop, Referer ("" = none)
    };
    const std::vector<Case> cases = {
        {"http://forum.test/thread?id=5#post9",
         "http://forum.test/go",
         {{"http://forum.test/go", "http://forum.test/thread?id=5"},
          {"http://cdn.test/img.jpg", "http://forum.test/"}}},
        {"http://forum.test/thread?id=6",
         "http://forum.test/same.jpg",
         {{"http://forum.test/same.jpg", "http://forum.test/thread?id=6"}}},
        {"https://forum.test/thread",
         "http://forum.test/down",
         {{"http://forum.test/down", ""}, {"http://plain.test/x.jpg", ""}}},
        {"", "http://forum.test/same.jpg", {{"http://forum.test/same.jpg", ""}}},
    };
    for (const auto& c : cases) {
        server.clearRequests();
        TransferRequest request = get(c.url);
        request.referringPage = c.page;
        EXPECT_EQ(fetch(request).end.failureCode, 0);
        const auto log = server.requests();
        ASSERT_EQ(log.size(), c.sent.size()) << c.page;
        for (std::size_t i = 0; i < log.size(); ++i) {
            EXPECT_EQ(log[i].url, c.sent[i].first);
            EXPECT_EQ(log[i].header("Referer"), c.sent[i].second) << c.sent[i].first;
        }
    }
}

}  // namespace
}  // namespace velnoria::testing
