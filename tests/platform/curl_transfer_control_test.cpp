#include "platform/curl/curl_transfer_control.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/transfer_test_helpers.h"
#include "tests/support/test_http_server.h"

namespace velnoria::testing {
namespace {

using Method = TransferControl::Method;

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kBound = 15s;

class CurlTransferControlTest : public ::testing::Test {
  protected:
    // Every request goes through the test server, whatever host it names.
    TestHttpServer server;
    ScopedProxy proxy{server};
    CurlUrlCache cache;
    CountingEventLoop loop;
    CurlTransferControl transfer{loop, cache};

    void run(const std::string& url, Method method = Method::Get) {
        transfer.start(url, method);
        waitForHeaders(transfer, loop, kBound);
    }
};

TEST_F(CurlTransferControlTest, BodyReadInPiecesEqualsTheBytesServed) {
    struct Case {
        std::uint64_t size;
        std::size_t piece;
    };
    const std::vector<Case> cases = {{0, 100},         {1, 1},           {1000, 7},
                                     {102400, 102400}, {300001, 102400}, {65536, 1000000}};
    std::uint32_t seed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size) + " piece " + std::to_string(c.piece));
        const std::string url = "http://img.host.test/" + std::to_string(++seed) + ".jpg";
        server.route(url, Reply::generated(c.size, seed));
        run(url);
        ASSERT_EQ(transfer.failureCode(), 0);
        EXPECT_EQ(transfer.header("Content-Length"), std::to_string(c.size));
        EXPECT_TRUE(readBody(transfer, c.piece) == generatedBytes(c.size, seed));
        EXPECT_EQ(transfer.failureCode(), 0);
        std::string after = "x";
        transfer.readPiece(10, after);
        EXPECT_EQ(after, "");
    }
}

// Bytes that arrive between two pieces wait for the next one; a caller that changes its piece
// size (the last piece of a file is shorter) must still get every byte once, in order.
TEST_F(CurlTransferControlTest, PiecesOfChangingSizeGiveEveryByteOnce) {
    const std::vector<std::vector<std::size_t>> cases = {
        {102400, 1000, 70000, 7, 200000}, {1, 65536, 3}, {8192, 102400}, {300000, 10}};
    const std::uint64_t size = 3u << 20;
    std::uint32_t seed = 40;
    for (const auto& pieces : cases) {
        const std::string url = "http://img.host.test/changing" + std::to_string(++seed);
        server.route(url, Reply::generated(size, seed));
        run(url);
        ASSERT_EQ(transfer.failureCode(), 0);
        std::string body;
        std::string piece;
        std::size_t largest = 0;
        for (std::size_t i = 0; body.size() < size; ++i) {
            const std::size_t count = pieces[i % pieces.size()];
            largest = std::max(largest, count);
            transfer.readPiece(count, piece);
            ASSERT_FALSE(piece.empty()) << "after " << body.size() << " bytes";
            // Short only at the end of the body.
            EXPECT_EQ(piece.size(), std::min<std::uint64_t>(count, size - body.size()));
            body += piece;
        }
        EXPECT_TRUE(body == generatedBytes(size, seed)) << "pieces case " << seed;
        // Held back: the piece being filled and one piece waiting, or one network read.
        EXPECT_LE(transfer.maxBuffered(), largest + std::max<std::size_t>(largest, 64 * 1024));
        transfer.cancel();
    }
}

TEST_F(CurlTransferControlTest, LargeBodyIsStreamedWithBoundedMemory) {
    const std::uint64_t size = 48ull << 20;
    const std::size_t piece = 8192;
    server.route("http://big.test/file.bin", Reply::generated(size, 9));
    [[maybe_unused]] const long peakBefore = peakResidentKiB();

    run("http://big.test/file.bin");
    std::string chunk;
    std::uint64_t total = 0;
    bool same = true;
    const auto start = Clock::now();
    while (Clock::now() - start < 60s) {
        transfer.readPiece(piece, chunk);
        if (chunk.empty()) break;
        same = same && chunk == generatedBytes(chunk.size(), 9, total);
        total += chunk.size();
    }
    EXPECT_EQ(total, size);
    EXPECT_TRUE(same);
    EXPECT_EQ(transfer.failureCode(), 0);
    EXPECT_GT(transfer.maxBuffered(), 0u);
    // One piece (at first a small default) plus one network read.
    EXPECT_LE(transfer.maxBuffered(), std::max<std::size_t>(piece, 16 * 1024) + 64 * 1024);
#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer holds freed memory back: the peak says nothing
    EXPECT_LT(peakResidentKiB() - peakBefore, 16 * 1024);
#endif
}

TEST_F(CurlTransferControlTest, HeadGivesHeadersAndNoBody) {
    server.route("http://h.test/a.jpg", Reply::ok("0123456789", "image/jpeg"));
    run("http://h.test/a.jpg", Method::Head);
    EXPECT_EQ(transfer.failureCode(), 0);
    EXPECT_EQ(transfer.header("content-length"), "10");
    EXPECT_EQ(transfer.header("Content-Type"), "image/jpeg");
    EXPECT_EQ(readBody(transfer, 100), "");
    // The handle goes back to GET afterwards.
    run("http://h.test/a.jpg");
    EXPECT_EQ(readBody(transfer, 100), "0123456789");
    const auto log = server.requestsFor("http://h.test/a.jpg");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].method, "HEAD");
    EXPECT_EQ(log[1].method, "GET");
}

TEST_F(CurlTransferControlTest, HeaderBlockAndLookup) {
    Reply reply = Reply::ok("body", "text/plain");
    reply.headers.emplace_back("X-Dup", "first");
    reply.headers.emplace_back("x-dup", "second");
    reply.headers.emplace_back("X-Spaced", "  padded value\t");
    server.route("http://h.test/page", reply);
    run("http://h.test/page");

    EXPECT_EQ(transfer.headerBlock(),
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nX-Dup: first\r\nx-dup: second\r\n"
              "X-Spaced:   padded value\t\r\nContent-Length: 4\r\n\r\n");
    struct Case {
        std::string name;
        std::string value;
    };
    for (const auto& c : std::vector<Case>{{"X-DUP", "first"},
                                           {"content-type", "text/plain"},
                                           {"X-Spaced", "padded value"},
                                           {"Content-Length", "4"},
                                           {"Missing", ""},
                                           {"HTTP/1.1 200 OK", ""}}) {
        EXPECT_EQ(transfer.header(c.name), c.value) << c.name;
    }
}

TEST_F(CurlTransferControlTest, RedirectsAndInterimAnswersLeadToTheFinalHeaders) {
    Reply final = Reply::ok("final body", "image/png");
    final.interim = "HTTP/1.1 100 Continue\r\n\r\n";
    server.route("http://a.test/start", Reply::redirect("http://b.test/next", 301));
    server.route("http://b.test/next", Reply::redirect("/last", 302));
    server.route("http://b.test/last", final);
    run("http://a.test/start");

    EXPECT_EQ(transfer.failureCode(), 0);
    const std::string block = transfer.headerBlock();
    EXPECT_TRUE(block.starts_with("HTTP/1.1 200 OK\r\n")) << block;
    EXPECT_EQ(transfer.header("Location"), "");
    EXPECT_EQ(transfer.header("Content-Type"), "image/png");
    EXPECT_EQ(readBody(transfer, 3), "final body");
}

TEST_F(CurlTransferControlTest, FailuresBelowHttpGiveAResponseCodeAndAReason) {
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
    // Framing that cannot be trusted: a header block the connection cut off, and two lengths.
    Reply unended;
    unended.raw = "HTTP/1.1 200 OK\r\nX-A: b\r\n";
    server.route("http://unended.test/x", unended);
    const auto twoLengths = [](const std::string& first, const std::string& second) {
        Reply twice = Reply::generated(1032);
        twice.headers = {{"Content-Length", first}, {"Content-Length", second}};
        twice.closeConnection = true;
        return twice;
    };
    server.route("http://two-lengths.test/x", twoLengths("10", "40"));
    server.route("http://two-lengths-b.test/x", twoLengths("5", "1032"));

    const std::pair<std::string, std::string> cases[] = {
        {"http://loop.test/x", "too many redirects"},
        {"http://ftp.test/x", "not an http(s) address"},
        {"http://file.test/x", "not an http(s) address"},
        {"http://reset.test/x", "connection reset"},
        {"http://huge.test/x", "header block too large"},
        {"http://unended.test/x", "invalid answer: header block cut short"},
        {"http://two-lengths.test/x", "invalid answer: Content-Length 10 and 40"},
        {"http://two-lengths-b.test/x", "invalid answer: Content-Length 5 and 1032"},
    };
    for (const auto& [url, reason] : cases) {
        SCOPED_TRACE(url);
        run(url);
        readBody(transfer, 4096);
        EXPECT_GT(transfer.failureCode(), 0);
        EXPECT_EQ(transfer.failureReason(), reason);
    }
}

TEST_F(CurlTransferControlTest, ConnectionRefusedGivesAResponseCode) {
    ScopedEnv deadProxy("http_proxy", "http://127.0.0.1:" + std::to_string(closedPort()));
    transfer.setTimeoutSeconds(5);
    run("http://nobody.test/a.jpg");
    EXPECT_GT(transfer.failureCode(), 0);
    EXPECT_EQ(transfer.headerBlock(), "");
}

TEST_F(CurlTransferControlTest, BodyCutShortByACleanCloseJustEnds) {
    Reply shortBody = Reply::generated(50000, 3);
    shortBody.closeAfterBodyBytes = 20000;
    server.route("http://short.test/a.jpg", shortBody);
    run("http://short.test/a.jpg");
    EXPECT_EQ(transfer.header("Content-Length"), "50000");
    EXPECT_TRUE(readBody(transfer, 8000) == generatedBytes(20000, 3));
    EXPECT_EQ(transfer.failureCode(), 0);
}

TEST_F(CurlTransferControlTest, OddHeadersAreHandledCleanly) {
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
        run("http://odd.test/x");
        EXPECT_EQ(transfer.failureCode() == 0, c.fine);
        EXPECT_EQ(readBody(transfer, 100), c.fine ? "body" : "");
        EXPECT_EQ(transfer.header("X-Long").size(), c.fine ? 60000u : 0u);
    }
}

TEST_F(CurlTransferControlTest, TimeOutEndsSilentRequests) {
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
        transfer.setTimeoutSeconds(c.timeout);
        const auto start = Clock::now();
        run(url);
        const std::string body = readBody(transfer, 1000);
        const auto took = Clock::now() - start;
        if (c.fails) {
            EXPECT_GT(transfer.failureCode(), 0);
            EXPECT_GE(took, std::chrono::seconds(c.timeout));
            EXPECT_LT(took, std::chrono::seconds(c.timeout) + 1s);
        } else {
            EXPECT_EQ(transfer.failureCode(), 0);
            EXPECT_EQ(body, c.reply.body);
        }
    }
}

TEST_F(CurlTransferControlTest, TimeTheCallerSpendsElsewhereIsNoStall) {
    Reply late = Reply::ok("late but fine");
    late.headerDelay = 1500ms;
    server.route("http://away.test/headers", late);
    server.route("http://away.test/body", Reply::generated(1 << 20, 4));
    transfer.setTimeoutSeconds(1);

    // A user holds the program (Pause) inside a yield while the server takes its time.
    loop.onYield = [] { std::this_thread::sleep_for(2s); };
    run("http://away.test/headers");
    loop.onYield = nullptr;
    EXPECT_EQ(transfer.failureCode(), 0);
    EXPECT_EQ(readBody(transfer, 100), "late but fine");

    // The transfer waits, paused, while the caller does something else between pieces.
    run("http://away.test/body");
    std::string first;
    transfer.readPiece(64 * 1024, first);
    std::this_thread::sleep_for(1500ms);
    const std::string rest = readBody(transfer, 64 * 1024);
    EXPECT_EQ(transfer.failureCode(), 0);
    EXPECT_TRUE(first + rest == generatedBytes(1 << 20, 4));
}

TEST_F(CurlTransferControlTest, WaitingForASlowAnswerBurnsLittleCpu) {
    Reply slow = Reply::ok("slow");
    slow.headerDelay = 2s;
    server.route("http://slow.test/cpu", slow);
    const auto cpuBefore = processCpuTime();
    run("http://slow.test/cpu");
    const auto cpu = processCpuTime() - cpuBefore;
    EXPECT_EQ(transfer.failureCode(), 0);
    EXPECT_LT(cpu, 100ms) << cpu.count() << " us";

    Reply dripping = Reply::ok("drip");
    dripping.drip = Drip{1, 500ms};
    server.route("http://slow.test/cpu2", dripping);
    run("http://slow.test/cpu2");
    const auto cpuBody = processCpuTime();
    EXPECT_EQ(readBody(transfer, 10), "drip");
    EXPECT_LT(processCpuTime() - cpuBody, 100ms);
    EXPECT_GT(loop.yields, 10);  // the wait for the body yields to the windows
}

TEST_F(CurlTransferControlTest, RequestHeadersAfterCacheEntryDeleted) {
    server.route("http://c.test/a.jpg", Reply::ok("a"));
    server.route("http://c.test/b.jpg", Reply::ok("b"));
    run("http://c.test/a.jpg");
    cache.deleteEntry("http://c.test/a.jpg");
    run("http://c.test/a.jpg");
    run("http://c.test/b.jpg");

    const auto log = server.requests();
    ASSERT_EQ(log.size(), 3u);
    for (const auto& request : log) {
        EXPECT_EQ(request.header("User-Agent"), "Mozilla/5.0 (compatible; VelnoriaMorvath/2.2)");
        EXPECT_FALSE(request.hasHeader("Accept-Encoding"));
    }
    EXPECT_FALSE(log[0].hasHeader("Cache-Control"));
    EXPECT_EQ(log[1].header("Cache-Control"), "no-cache");
    EXPECT_EQ(log[1].header("Pragma"), "no-cache");
    EXPECT_FALSE(log[2].hasHeader("Cache-Control"));
    EXPECT_FALSE(log[2].hasHeader("Pragma"));
}

TEST_F(CurlTransferControlTest, BodyIsNotDecoded) {
    const std::string bytes = "\x1f\x8b not really gzip \0\xff"s;
    Reply encoded = Reply::ok(bytes);
    encoded.headers.emplace_back("Content-Encoding", "gzip");
    server.route("http://www.example-host.test/a.jpg", encoded);
    run("http://www.example-host.test/a.jpg");
    EXPECT_EQ(transfer.failureCode(), 0);
    EXPECT_EQ(readBody(transfer, 5), bytes);
    // Reached through http_proxy: the server saw the absolute address.
    EXPECT_EQ(server.requestsFor("http://www.example-host.test/a.jpg").size(), 1u);
}

TEST_F(CurlTransferControlTest, ConnectionsAreReusedButNotAfterCancel) {
    server.route("http://k.test/1", Reply::generated(5000));
    server.route("http://k.test/sized", Reply::generated(524288, 2));
    server.route("http://k.test/big", Reply::generated(4 << 20));
    run("http://k.test/1");
    readBody(transfer, 1000);
    // Read exactly the announced length, then cancel, as the job does.
    run("http://k.test/sized");
    std::string piece;
    for (std::size_t left = 524288; left > 0; left -= std::min<std::size_t>(left, 102400)) {
        transfer.readPiece(std::min<std::size_t>(left, 102400), piece);
        std::this_thread::sleep_for(50ms);  // the rest is in before the caller asks for it
    }
    transfer.cancel();
    run("http://k.test/big");
    transfer.readPiece(1000, piece);
    transfer.cancel();
    run("http://k.test/1");
    EXPECT_TRUE(readBody(transfer, 1000) == generatedBytes(5000));
    EXPECT_EQ(transfer.failureCode(), 0);

    const auto log = server.requests();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].connection, log[1].connection);
    EXPECT_EQ(log[1].connection, log[2].connection);
    EXPECT_NE(log[2].connection, log[3].connection);  // the half-read one was dropped
}

TEST_F(CurlTransferControlTest, ExecuteEndsTheRequestBefore) {
    server.route("http://e.test/endless", [] {
        Reply r;
        r.endlessBody = true;
        return r;
    }());
    server.route("http://e.test/next", Reply::ok("next"));
    run("http://e.test/endless");
    std::string piece;
    transfer.readPiece(100000, piece);
    EXPECT_EQ(piece.size(), 100000u);
    run("http://e.test/next");
    EXPECT_EQ(readBody(transfer, 100), "next");
}

}  // namespace
}  // namespace velnoria::testing
