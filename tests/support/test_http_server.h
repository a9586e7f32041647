#pragma once

// A scripted HTTP/1.1 server on loopback for tests and benchmarks.
//
//   velnoria::testing::TestHttpServer server;                 // 127.0.0.1, kernel-chosen port
//   velnoria::testing::ScopedProxy proxy(server);            // http_proxy -> server, no_proxy off
//   server.route("http://www.imagebam.com/image/abc", Reply::ok("<html>...</html>"));
//   server.route(server.url("/a.jpg"), {Reply::withStatus(500), Reply::generated(4096)});
//   Reply slow = Reply::ok("x");
//   slow.headerDelay = std::chrono::seconds(3);
//   server.route("http://host.test/slow", slow);
//   ... run the code under test ...
//   auto seen = server.requestsFor("http://host.test/slow");  // method, url, headers
//   EXPECT_EQ(seen.at(1).header("cache-control"), "no-cache");
//
// Routes match the full address exactly as the client asked for it: a proxy request's absolute
// address, or "http://127.0.0.1:PORT" + path for a direct one (url() builds it). A list of
// replies is used one per request, the last one repeating. Anything else goes to the fallback
// handler, or gets 404. The destructor stops the server without waiting on stuck clients.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/scoped_env.h"
#include "tests/support/test_http_reply.h"

namespace velnoria::testing {

struct Request {
    std::string method;
    std::string url;     // the full address: absolute-form as sent, origin-form made absolute
    std::string target;  // as on the request line
    std::string version;
    HeaderList headers;
    std::string body;
    int connection = 0;  // serial number of the TCP connection it came on (1, 2, ...)

    // First header of that name (case-insensitive), trimmed; "" when absent.
    std::string header(std::string_view name) const;
    bool hasHeader(std::string_view name) const;
    // The value of a cookie of the Cookie header(s), as the client sent it; nothing when the
    // request carries no cookie of that name.
    std::optional<std::string> cookie(std::string_view name) const;
};

using Handler = std::function<Reply(const Request&)>;

class TestHttpServer {
  public:
    TestHttpServer();                             // a free port on 127.0.0.1
    explicit TestHttpServer(std::uint16_t port);  // a given port (0 = free)
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string proxyUrl() const;                  // "http://127.0.0.1:PORT"
    std::string url(std::string_view path) const;  // "http://127.0.0.1:PORT" + path

    void route(const std::string& url, Reply reply);
    void route(const std::string& url, std::vector<Reply> replies);
    void route(const std::string& url, Handler handler);
    void setFallback(Handler handler);

    std::vector<Request> requests() const;
    std::vector<Request> requestsFor(std::string_view url) const;
    std::size_t requestCount() const;
    // True once at least `count` requests have arrived; false after `timeout`.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    void clearRequests();
    int connectionsAccepted() const { return connectionsAccepted_.load(); }

    // Ends every connection and joins every thread; also done by the destructor.
    void stop();

  private:
    struct Connection;
    struct Route {
        std::vector<std::shared_ptr<const Reply>> replies;
        std::size_t next = 0;
        Handler handler;
    };

    void acceptLoop();
    void serve(Connection& connection);
    std::shared_ptr<const Reply> replyFor(const Request& request);
    void reapFinished();

    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connectionsAccepted_{0};
    std::thread acceptThread_;

    mutable std::mutex connectionsMutex_;
    std::list<Connection> connections_;

    std::mutex routesMutex_;
    std::map<std::string, Route, std::less<>> routes_;
    Handler fallback_;

    mutable std::mutex logMutex_;
    mutable std::condition_variable logChanged_;
    std::vector<Request> log_;
};

// Points http_proxy at a server (and clears no_proxy) for the lifetime of the object.
class ScopedProxy {
  public:
    explicit ScopedProxy(const TestHttpServer& server);

  private:
    ScopedEnv httpProxy_;
    ScopedEnv noProxy_;
    ScopedEnv noProxyUpper_;
    ScopedEnv allProxy_;
    ScopedEnv allProxyUpper_;
};

}  // namespace velnoria::testing
