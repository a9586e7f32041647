#include "tests/support/test_http_connection.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <limits>
#include <thread>

namespace velnoria::testing::detail {

namespace {

constexpr std::size_t kMaxRequestHead = 1 << 20;
constexpr std::size_t kMaxRequestBody = 64 << 20;
constexpr std::size_t kInlineBody = 64 << 10;
constexpr std::size_t kSendPiece = 1 << 20;

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool containsIgnoreCase(std::string_view text, std::string_view word) {
    if (word.size() > text.size()) return false;
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        if (equalsIgnoreCase(text.substr(i, word.size()), word)) return true;
    }
    return false;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool parseHead(std::string_view head, Request& request) {
    std::vector<std::string_view> lines;
    while (!head.empty()) {
        const auto eol = head.find('\n');
        auto line = head.substr(0, eol);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        head.remove_prefix(eol == std::string_view::npos ? head.size() : eol + 1);
    }
    std::size_t first = 0;
    while (first < lines.size() && lines[first].empty()) ++first;  // stray CR LF before a request
    if (first == lines.size()) return false;

    const auto requestLine = lines[first];
    const auto sp1 = requestLine.find(' ');
    const auto sp2 = requestLine.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1) return false;
    request.method = std::string(requestLine.substr(0, sp1));
    request.target = std::string(requestLine.substr(sp1 + 1, sp2 - sp1 - 1));
    request.version = std::string(requestLine.substr(sp2 + 1));

    for (std::size_t i = first + 1; i < lines.size(); ++i) {
        const auto colon = lines[i].find(':');
        if (colon == std::string_view::npos) continue;
        request.headers.emplace_back(std::string(trim(lines[i].substr(0, colon))),
                                     std::string(trim(lines[i].substr(colon + 1))));
    }
    return true;
}

bool requestWantsClose(const Request& request) {
    const auto connection = request.header("Connection");
    if (containsIgnoreCase(connection, "close")) return true;
    return request.version == "HTTP/1.0" && !containsIgnoreCase(connection, "keep-alive");
}

bool hasHeader(const HeaderList& headers, std::string_view name) {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return equalsIgnoreCase(h.first, name); });
}

std::string hex(std::uint64_t value) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, 16);
    return std::string(buf, end);
}

// Streams the body, in pieces, from the reply's own bytes or the generator.
class BodyWriter {
  public:
    BodyWriter(const Socket& socket, const Reply& reply, bool chunked)
        : socket_(socket), reply_(reply), chunked_(chunked) {}

    // Sends body bytes [0, limit); false when the connection or the server went away.
    bool send(std::uint64_t limit) {
        const std::size_t piece =
            reply_.drip ? std::max<std::size_t>(reply_.drip->bytes, 1) : kSendPiece;
        for (std::uint64_t offset = 0; offset < limit;) {
            const std::size_t count =
                static_cast<std::size_t>(std::min<std::uint64_t>(piece, limit - offset));
            const std::string_view bytes = view(offset, count);
            if (!write(bytes)) return false;
            offset += bytes.size();
            if (reply_.drip && offset < limit && !socket_.pause(reply_.drip->every)) return false;
        }
        return true;
    }

    bool finish() { return !chunked_ || socket_.sendAll("0\r\n\r\n", 5); }

  private:
    std::string_view view(std::uint64_t offset, std::size_t count) const {
        if (reply_.generatedSize || reply_.endlessBody) {
            return generatedView(offset, reply_.generatedSeed, count);
        }
        return std::string_view(reply_.body).substr(static_cast<std::size_t>(offset), count);
    }

    bool write(std::string_view bytes) {
        if (!chunked_) return socket_.sendAll(bytes.data(), bytes.size());
        const std::string size = hex(bytes.size()) + "\r\n";
        return socket_.sendAll(size.data(), size.size()) &&
               socket_.sendAll(bytes.data(), bytes.size()) && socket_.sendAll("\r\n", 2);
    }

    const Socket& socket_;
    const Reply& reply_;
    bool chunked_;
};

}  // namespace

bool Socket::pause(std::chrono::milliseconds duration) const {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + duration;
    for (;;) {
        if (stopping.load()) return false;
        int timeout = -1;
        if (duration.count() >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return true;
            timeout = static_cast<int>(std::min<long long>(left.count(), INT_MAX));
        }
        pollfd fds[2] = {{fd, POLLRDHUP, 0}, {wakeFd, POLLIN, 0}};
        const int n = ::poll(fds, 2, timeout);
        if (n < 0 && errno != EINTR) return false;
        if (n > 0) {
            if (fds[1].revents != 0) return false;
            if ((fds[0].revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) return false;
        }
    }
}

bool Socket::sendAll(const char* data, std::size_t size) const {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool RequestReader::read(const Socket& socket, Request& request) {
    char buffer[64 * 1024];
    auto receive = [&] {
        for (;;) {
            const ssize_t n = ::recv(socket.fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            pending_.append(buffer, static_cast<std::size_t>(n));
            return true;
        }
    };

    std::size_t headEnd = std::string::npos;
    std::size_t separator = 0;
    for (;;) {
        const auto crlf = pending_.find("\r\n\r\n");
        const auto lf = pending_.find("\n\n");
        if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) {
            headEnd = crlf;
            separator = 4;
        } else if (lf != std::string::npos) {
            headEnd = lf;
            separator = 2;
        }
        if (headEnd != std::string::npos) break;
        if (pending_.size() > kMaxRequestHead || !receive()) return false;
    }

    request = Request{};
    if (!parseHead(std::string_view(pending_).substr(0, headEnd), request)) return false;
    pending_.erase(0, headEnd + separator);

    const auto lengthText = request.header("Content-Length");
    if (!lengthText.empty()) {
        std::size_t length = 0;
        const auto [end, ec] =
            std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length);
        if (ec != std::errc{} || end != lengthText.data() + lengthText.size() ||
            length > kMaxRequestBody) {
            return false;
        }
        while (pending_.size() < length) {
            if (!receive()) return false;
        }
        request.body = pending_.substr(0, length);
        pending_.erase(0, length);
    }
    return true;
}

AfterReply sendReply(const Socket& socket, const Request& request, const Reply& reply) {
    if (reply.neverAnswer) {
        socket.pause(std::chrono::milliseconds(-1));
        return AfterReply::Close;
    }
    if (reply.headerDelay.count() > 0 && !socket.pause(reply.headerDelay)) {
        return AfterReply::Close;
    }
    if (!reply.raw.empty()) {
        socket.sendAll(reply.raw.data(), reply.raw.size());
        return AfterReply::Close;
    }

    const bool head = request.method == "HEAD";
    const bool chunked = reply.chunked && !reply.endlessBody;
    const auto size = reply.bodySize();

    std::string out = reply.interim;
    if (reply.statusLine.empty()) {
        out += "HTTP/1.1 " + std::to_string(reply.status) + ' ' +
               (reply.reason.empty() ? reasonPhrase(reply.status) : reply.reason);
    } else {
        out += reply.statusLine;
    }
    out += "\r\n";
    for (const auto& [name, value] : reply.headers) out += name + ": " + value + "\r\n";
    bool delimited = hasHeader(reply.headers, "Content-Length");
    if (chunked) {
        out += "Transfer-Encoding: chunked\r\n";
        delimited = true;
    } else if (reply.autoContentLength && !delimited && size) {
        out += "Content-Length: " + std::to_string(*size) + "\r\n";
        delimited = true;
    }
    out += reply.rawHeaderBytes;
    out += "\r\n";

    const bool keepAlive = (delimited || head) && reply.extraAfterBody.empty() &&
                           !reply.closeConnection && !requestWantsClose(request);
    const AfterReply normalEnd = keepAlive ? AfterReply::KeepAlive : AfterReply::Close;

    if (head) return socket.sendAll(out.data(), out.size()) ? normalEnd : AfterReply::Close;
    if (reply.silenceAfterHeaders) {
        socket.sendAll(out.data(), out.size());
        socket.pause(std::chrono::milliseconds(-1));
        return AfterReply::Close;
    }

    std::uint64_t limit = size.value_or(std::numeric_limits<std::uint64_t>::max());
    AfterReply end = normalEnd;
    if (reply.closeAfterBodyBytes) {
        limit = std::min(limit, *reply.closeAfterBodyBytes);
        end = AfterReply::Close;
    }
    if (reply.resetAfterBodyBytes) {
        limit = std::min(limit, *reply.resetAfterBodyBytes);
        end = AfterReply::Reset;
    }
    const bool whole = size && limit == *size;

    // Small plain bodies go out with the head in one write.
    const bool inline_ = !reply.generatedSize && !reply.endlessBody && !chunked && !reply.drip &&
                         limit <= kInlineBody;
    if (inline_) {
        out.append(reply.body, 0, static_cast<std::size_t>(limit));
        limit = 0;
    }
    if (!socket.sendAll(out.data(), out.size())) return AfterReply::Close;

    BodyWriter writer(socket, reply, chunked);
    if (!writer.send(limit)) return AfterReply::Close;
    if (whole && !writer.finish()) return AfterReply::Close;
    if (!reply.extraAfterBody.empty() &&
        !socket.sendAll(reply.extraAfterBody.data(), reply.extraAfterBody.size())) {
        return AfterReply::Close;
    }
    return end;
}

void closeSocket(int fd, AfterReply how) {
    if (how == AfterReply::Reset) {
        // Let the bytes already sent reach the client before the reset discards the queue.
        for (int i = 0; i < 200; ++i) {
            int queued = 0;
            if (::ioctl(fd, SIOCOUTQ, &queued) != 0 || queued == 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    } else {
        ::shutdown(fd, SHUT_WR);
    }
    ::close(fd);
}

}  // namespace velnoria::testing::detail
