#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/raw_http_client.h"

namespace velnoria::testing {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

std::string get(const std::string& target, const std::string& method = "GET") {
    return method + " " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
}

Reply withRawHeaders() {
    Reply r;
    r.statusLine = "HTTP/1.1 299 Odd";
    r.headers = {{"X-A", "1"}, {"X-A", "2"}};
    r.rawHeaderBytes = "garbage line\r\nX-Nul: a\0b\r\n"s;
    r.body = "z";
    return r;
}

Reply cutShort() {
    Reply r = Reply::ok("0123456789", "text/plain");
    r.closeAfterBodyBytes = 4;
    return r;
}

Reply chunkedBody() {
    Reply r;
    r.body = "abc";
    r.chunked = true;
    return r;
}

Reply extraBytes() {
    Reply r;
    r.body = "ab";
    r.extraAfterBody = "XYZ";
    return r;
}

Reply withInterim() {
    Reply r;
    r.interim = "HTTP/1.1 100 Continue\r\n\r\n";
    r.body = "k";
    return r;
}

TEST(TestHttpServer, AnswersScriptedRepliesByteForByte) {
    TestHttpServer server;
    struct Case {
        std::string name;
        std::string routeUrl;  // "" = nothing routed
        Reply reply;
        std::string request;
        std::string expected;
    };
    const std::string origin = server.url("/a.jpg");
    const std::vector<Case> cases = {
        {"origin form", origin, Reply::ok("hello", "image/jpeg"), get("/a.jpg"),
         "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: 5\r\n\r\nhello"},
        {"absolute form", "http://www.imagebam.com/image/abc?x=1", Reply::withStatus(500, "e"),
         get("http://www.imagebam.com/image/abc?x=1"),
         "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 1\r\n\r\ne"},
        {"unknown address",
         "",
         {},
         get("http://elsewhere.test/"),
         "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nNot Found"},
        {"head", origin, Reply::ok("hello", "image/jpeg"), get("/a.jpg", "HEAD"),
         "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: 5\r\n\r\n"},
        {"redirect", origin, Reply::redirect("http://b.test/x"), get("/a.jpg"),
         "HTTP/1.1 302 Found\r\nLocation: http://b.test/x\r\nContent-Length: 0\r\n\r\n"},
        {"raw headers", origin, withRawHeaders(), get("/a.jpg"),
         "HTTP/1.1 299 Odd\r\nX-A: 1\r\nX-A: 2\r\nContent-Length: 1\r\n"
         "garbage line\r\nX-Nul: a\0b\r\n\r\nz"s},
        {"short body", origin, cutShort(), get("/a.jpg"),
         "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n\r\n0123"},
        {"chunked", origin, chunkedBody(), get("/a.jpg"),
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"},
        {"extra bytes", origin, extraBytes(), get("/a.jpg"),
         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabXYZ"},
        {"interim reply", origin, withInterim(), get("/a.jpg"),
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nk"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.routeUrl.empty()) server.route(c.routeUrl, c.reply);
        RawHttpClient client(server.port());
        client.send(c.request);
        EXPECT_EQ(client.read(5s), c.expected);
        EXPECT_TRUE(client.closed());
        EXPECT_FALSE(client.reset());
    }
}

TEST(TestHttpServer, KeepsConnectionsAliveAndLogsRequests) {
    TestHttpServer server;
    server.route(server.url("/one"), Reply::ok("1"));
    server.route("http://h.test/two", Reply::ok("22"));

    const std::string first =
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 1\r\n\r\n1";
    const std::string second =
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 2\r\n\r\n";
    RawHttpClient client(server.port());
    client.send("GET /one HTTP/1.1\r\nHost: x\r\nUser-Agent: UA/1\r\n\r\n");
    EXPECT_EQ(client.read(5s, first.size()), first);
    client.send(
        "HEAD http://h.test/two HTTP/1.1\r\ncache-control:  no-cache \r\nCookie: "
        "a=1;sid=x=y\r\n\r\n");
    EXPECT_EQ(client.read(5s, second.size()), second);
    EXPECT_FALSE(client.closed());

    ASSERT_TRUE(server.waitForRequests(2, 5s));
    const auto log = server.requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].url, server.url("/one"));
    EXPECT_EQ(log[0].header("user-agent"), "UA/1");
    EXPECT_EQ(log[1].method, "HEAD");
    EXPECT_EQ(log[1].url, "http://h.test/two");
    EXPECT_EQ(log[1].header("Cache-Control"), "no-cache");
    EXPECT_FALSE(log[1].hasHeader("User-Agent"));
    EXPECT_EQ(log[1].cookie("sid"), "x=y");
    EXPECT_EQ(log[1].cookie("a"), "1");
    EXPECT_EQ(log[1].cookie("s"), std::nullopt);
    EXPECT_EQ(log[0].cookie("a"), std::nullopt);
    EXPECT_EQ(log[0].connection, log[1].connection);
    EXPECT_EQ(server.requestsFor("http://h.test/two").size(), 1u);
}

TEST(TestHttpServer, ReplyListIsUsedInOrderAndTheLastRepeats) {
    TestHttpServer server;
    server.route(server.url("/f"), {Reply::withStatus(503), Reply::ok("A"), Reply::ok("B")});
    server.route(server.url("/h"), [](const Request& r) { return Reply::ok(r.method); });
    server.setFallback([](const Request& r) { return Reply::ok("fb:" + r.url); });

    std::vector<std::string> statusLines;
    for (int i = 0; i < 4; ++i) {
        RawHttpClient client(server.port());
        client.send(get("/f"));
        const std::string reply = client.read(5s);
        statusLines.push_back(reply.substr(0, reply.find("\r\n")) + "|" + reply.back());
    }
    EXPECT_EQ(statusLines,
              (std::vector<std::string>{"HTTP/1.1 503 Service Unavailable|\n", "HTTP/1.1 200 OK|A",
                                        "HTTP/1.1 200 OK|B", "HTTP/1.1 200 OK|B"}));

    RawHttpClient handled(server.port());
    handled.send(get("/h"));
    EXPECT_TRUE(handled.read(5s).ends_with("\r\n\r\nGET"));
    RawHttpClient fallback(server.port());
    fallback.send(get("http://x.test/q?1"));
    EXPECT_TRUE(fallback.read(5s).ends_with("\r\n\r\nfb:http://x.test/q?1"));
}

TEST(TestHttpServer, GeneratedBodiesAreDeterministicAndStreamed) {
    EXPECT_EQ(generatedBytes(10, 3, 1000), generatedBytes(1010, 3).substr(1000));
    EXPECT_NE(generatedBytes(4096, 1), generatedBytes(4096, 2));
    const std::string big = generatedBytes(200000);
    EXPECT_NE(big.substr(0, 100), big.substr(65536, 100));
    EXPECT_NE(big.substr(0, 100), big.substr(131072, 100));

    TestHttpServer server;
    const std::uint64_t size = 3'000'001;
    server.route(server.url("/big"), Reply::generated(size, 7));
    RawHttpClient client(server.port());
    client.send(get("/big"));
    const std::string reply = client.read(10s);
    const auto bodyStart = reply.find("\r\n\r\n") + 4;
    EXPECT_EQ(reply.substr(0, bodyStart),
              "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n");
    EXPECT_TRUE(reply.substr(bodyStart) == generatedBytes(size, 7));
}

TEST(TestHttpServer, ResetAfterSomeBodyBytes) {
    TestHttpServer server;
    Reply reply = Reply::generated(100000);
    reply.resetAfterBodyBytes = 5000;
    server.route(server.url("/r"), reply);
    RawHttpClient client(server.port());
    client.send(get("/r"));
    const std::string got = client.read(5s);
    EXPECT_TRUE(client.reset());
    EXPECT_LE(got.size() - got.find("\r\n\r\n") - 4, 5000u);
}

TEST(TestHttpServer, HeaderDelayAndDripTakeTheirTime) {
    TestHttpServer server;
    Reply delayed = Reply::ok("d");
    delayed.headerDelay = 300ms;
    server.route(server.url("/delay"), delayed);
    Reply dripping = Reply::ok("abcd");
    dripping.drip = Drip{1, 100ms};
    server.route(server.url("/drip"), dripping);

    const std::vector<std::pair<std::string, std::string>> cases = {{"/delay", "d"},
                                                                    {"/drip", "abcd"}};
    for (const auto& [path, body] : cases) {
        SCOPED_TRACE(path);
        RawHttpClient client(server.port());
        const auto start = Clock::now();
        client.send(get(path));
        const std::string got = client.read(5s);
        EXPECT_GE(Clock::now() - start, 290ms);
        EXPECT_TRUE(client.closed());
        EXPECT_EQ(got.substr(got.find("\r\n\r\n") + 4), body);
    }
}

TEST(TestHttpServer, StopsPromptlyWithClientsStuckMidTransfer) {
    auto server = std::make_unique<TestHttpServer>();
    Reply silent = Reply::generated(100);
    silent.silenceAfterHeaders = true;
    Reply endless;
    endless.endlessBody = true;
    Reply mute;
    mute.neverAnswer = true;
    Reply slow = Reply::generated(1000);
    slow.drip = Drip{1, 1000ms};
    server->route(server->url("/silent"), silent);
    server->route(server->url("/endless"), endless);
    server->route(server->url("/mute"), mute);
    server->route(server->url("/slow"), slow);

    std::vector<std::unique_ptr<RawHttpClient>> clients;
    for (const char* path : {"/silent", "/endless", "/mute", "/slow"}) {
        clients.push_back(std::make_unique<RawHttpClient>(server->port()));
        clients.back()->send(get(path));
    }
    ASSERT_TRUE(server->waitForRequests(4, 5s));
    // The endless body fills the socket buffers while nobody reads it.
    EXPECT_GT(clients[1]->read(1s, 1 << 20).size(), 100000u);

    const auto start = Clock::now();
    server.reset();
    EXPECT_LT(Clock::now() - start, 2s);
    for (auto& c : clients) {
        c->read(5s);
        EXPECT_TRUE(c->closed());
    }
}

TEST(TestHttpServer, ScopedProxyPointsHttpProxyAtTheServer) {
    TestHttpServer server;
    {
        ScopedEnv before("no_proxy", "example.test");
        {
            ScopedProxy proxy(server);
            ASSERT_NE(std::getenv("http_proxy"), nullptr);
            EXPECT_EQ(std::string(std::getenv("http_proxy")), server.proxyUrl());
            EXPECT_EQ(std::getenv("no_proxy"), nullptr);
        }
        ASSERT_NE(std::getenv("no_proxy"), nullptr);
        EXPECT_EQ(std::string(std::getenv("no_proxy")), "example.test");
    }
}

}  // namespace
}  // namespace velnoria::testing
