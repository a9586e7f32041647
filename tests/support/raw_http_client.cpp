#include "tests/support/raw_http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace velnoria::testing {

RawHttpClient::RawHttpClient(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot connect to the test server");
    }
}

RawHttpClient::~RawHttpClient() {
    ::close(fd_);
}

void RawHttpClient::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error("cannot send to the test server");
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string RawHttpClient::read(std::chrono::milliseconds timeout, std::size_t count) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    std::string out;
    char buffer[64 * 1024];
    while (out.size() < count && !closed_) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        const std::size_t want = std::min(sizeof buffer, count - out.size());
        const ssize_t n = ::recv(fd_, buffer, want, 0);
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            closed_ = true;
            reset_ = n < 0 && errno == ECONNRESET;
        }
    }
    return out;
}

}  // namespace velnoria::testing
