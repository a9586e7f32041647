#include "tests/support/test_http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tests/support/test_http_connection.h"

namespace velnoria::testing {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string("test server: ") + what + ": " + std::strerror(errno));
}

}  // namespace

std::string Request::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (sameName(key, name)) return value;
    }
    return {};
}

bool Request::hasHeader(std::string_view name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return sameName(h.first, name); });
}

std::optional<std::string> Request::cookie(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (!sameName(key, "Cookie")) continue;
        std::string_view rest = value;
        while (!rest.empty()) {
            const std::size_t end = std::min(rest.find(';'), rest.size());
            std::string_view pair = rest.substr(0, end);
            rest.remove_prefix(std::min(end + 1, rest.size()));
            while (pair.starts_with(' ')) pair.remove_prefix(1);
            const std::size_t equals = pair.find('=');
            if (equals != std::string_view::npos && pair.substr(0, equals) == name) {
                return std::string(pair.substr(equals + 1));
            }
        }
    }
    return std::nullopt;
}

struct TestHttpServer::Connection {
    int fd = -1;  // -1 once the serving thread has taken it to close
    int id = 0;
    std::thread thread;
    std::atomic<bool> done{false};
};

TestHttpServer::TestHttpServer() : TestHttpServer(0) {}

TestHttpServer::TestHttpServer(std::uint16_t port) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) fail("pipe");
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];

    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) fail("socket");
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fail("bind");
    }
    if (::listen(listenFd_, 512) != 0) fail("listen");
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);

    acceptThread_ = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    stop();
    ::close(listenFd_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void TestHttpServer::stop() {
    if (stopping_.exchange(true)) return;
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(wakeWrite_, &byte, 1);  // never read: wakes everyone
    if (acceptThread_.joinable()) acceptThread_.join();

    std::list<Connection> all;
    {
        std::lock_guard lock(connectionsMutex_);
        for (auto& c : connections_) {
            if (c.fd >= 0) ::shutdown(c.fd, SHUT_RDWR);
        }
        all.splice(all.end(), connections_);
    }
    for (auto& c : all) c.thread.join();
}

std::string TestHttpServer::proxyUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string TestHttpServer::url(std::string_view path) const {
    return proxyUrl() + std::string(path);
}

void TestHttpServer::route(const std::string& url, Reply reply) {
    std::vector<Reply> one;
    one.push_back(std::move(reply));
    route(url, std::move(one));
}

void TestHttpServer::route(const std::string& url, std::vector<Reply> replies) {
    Route entry;
    for (auto& r : replies) entry.replies.push_back(std::make_shared<const Reply>(std::move(r)));
    if (entry.replies.empty()) entry.replies.push_back(std::make_shared<const Reply>());
    std::lock_guard lock(routesMutex_);
    routes_[url] = std::move(entry);
}

void TestHttpServer::route(const std::string& url, Handler handler) {
    Route entry;
    entry.handler = std::move(handler);
    std::lock_guard lock(routesMutex_);
    routes_[url] = std::move(entry);
}

void TestHttpServer::setFallback(Handler handler) {
    std::lock_guard lock(routesMutex_);
    fallback_ = std::move(handler);
}

std::vector<Request> TestHttpServer::requests() const {
    std::lock_guard lock(logMutex_);
    return log_;
}

std::vector<Request> TestHttpServer::requestsFor(std::string_view url) const {
    std::lock_guard lock(logMutex_);
    std::vector<Request> out;
    for (const auto& r : log_) {
        if (r.url == url) out.push_back(r);
    }
    return out;
}

std::size_t TestHttpServer::requestCount() const {
    std::lock_guard lock(logMutex_);
    return log_.size();
}

bool TestHttpServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(logMutex_);
    return logChanged_.wait_for(lock, timeout, [&] { return log_.size() >= count; });
}

void TestHttpServer::clearRequests() {
    std::lock_guard lock(logMutex_);
    log_.clear();
}

void TestHttpServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0 || stopping_.load()) return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

        reapFinished();
        std::lock_guard lock(connectionsMutex_);
        auto& c = connections_.emplace_back();
        c.fd = fd;
        c.id = ++connectionsAccepted_;
        c.thread = std::thread([this, &c] { serve(c); });
    }
}

void TestHttpServer::reapFinished() {
    std::list<Connection> finished;
    {
        std::lock_guard lock(connectionsMutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            auto next = std::next(it);
            if (it->done.load()) finished.splice(finished.end(), connections_, it);
            it = next;
        }
    }
    for (auto& c : finished) c.thread.join();
}

void TestHttpServer::serve(Connection& connection) {
    const detail::Socket socket{connection.fd, wakeRead_, stopping_};
    detail::RequestReader reader;
    detail::AfterReply after = detail::AfterReply::Close;
    Request request;
    while (!stopping_.load() && reader.read(socket, request)) {
        request.connection = connection.id;
        request.url = request.target.starts_with("/") ? url(request.target) : request.target;
        {
            std::lock_guard lock(logMutex_);
            log_.push_back(request);
        }
        logChanged_.notify_all();

        const auto reply = replyFor(request);
        after = detail::sendReply(socket, request, *reply);
        if (after != detail::AfterReply::KeepAlive) break;
    }
    int fd;
    {
        std::lock_guard lock(connectionsMutex_);
        fd = connection.fd;
        connection.fd = -1;
    }
    detail::closeSocket(fd, after);
    connection.done = true;
}

std::shared_ptr<const Reply> TestHttpServer::replyFor(const Request& request) {
    Handler handler;
    {
        std::lock_guard lock(routesMutex_);
        const auto found = routes_.find(request.url);
        if (found != routes_.end()) {
            auto& entry = found->second;
            if (!entry.handler) {
                const auto index = std::min(entry.next, entry.replies.size() - 1);
                entry.next = index + 1;
                return entry.replies[index];
            }
            handler = entry.handler;
        } else {
            handler = fallback_;
        }
    }
    if (handler) return std::make_shared<const Reply>(handler(request));
    static const auto notFound = std::make_shared<const Reply>(Reply::withStatus(404, "Not Found"));
    return notFound;
}

ScopedProxy::ScopedProxy(const TestHttpServer& server)
    : httpProxy_("http_proxy", server.proxyUrl()),
      noProxy_("no_proxy", std::nullopt),
      noProxyUpper_("NO_PROXY", std::nullopt),
      allProxy_("all_proxy", std::nullopt),
      allProxyUpper_("ALL_PROXY", std::nullopt) {}

}  // namespace velnoria::testing
