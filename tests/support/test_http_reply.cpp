#include "tests/support/test_http_reply.h"

#include <algorithm>
#include <vector>

namespace velnoria::testing {

namespace {

// A prime period, so that a client mixing up offsets by a power of two sees different bytes.
constexpr std::size_t kPeriod = 65521;
constexpr std::size_t kWindow = 1 << 20;
constexpr std::uint64_t kSeedStride = 4099;

const std::vector<char>& pattern() {
    static const std::vector<char> bytes = [] {
        std::vector<char> b(kPeriod + kWindow);
        for (std::size_t i = 0; i < b.size(); ++i) {
            const std::uint32_t k = static_cast<std::uint32_t>(i % kPeriod);
            b[i] = static_cast<char>((k * 2654435761u) >> 24);
        }
        return b;
    }();
    return bytes;
}

}  // namespace

std::string_view generatedView(std::uint64_t offset, std::uint32_t seed, std::size_t count) {
    const std::size_t start = static_cast<std::size_t>((offset + seed * kSeedStride) % kPeriod);
    return {pattern().data() + start, std::min(count, kWindow)};
}

std::string generatedBytes(std::uint64_t size, std::uint32_t seed, std::uint64_t offset) {
    std::string out;
    out.reserve(size);
    while (out.size() < size) {
        const auto view = generatedView(offset + out.size(), seed, size - out.size());
        out.append(view);
    }
    return out;
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 100:
            return "Continue";
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 206:
            return "Partial Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

Reply Reply::ok(std::string body, std::string contentType) {
    Reply r;
    r.headers.emplace_back("Content-Type", std::move(contentType));
    r.body = std::move(body);
    return r;
}

Reply Reply::withStatus(int status, std::string body) {
    Reply r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

Reply Reply::redirect(std::string location, int status) {
    Reply r;
    r.status = status;
    r.headers.emplace_back("Location", std::move(location));
    return r;
}

Reply Reply::generated(std::uint64_t size, std::uint32_t seed) {
    Reply r;
    r.generatedSize = size;
    r.generatedSeed = seed;
    return r;
}

std::optional<std::uint64_t> Reply::bodySize() const {
    if (endlessBody) return std::nullopt;
    if (generatedSize) return *generatedSize;
    return body.size();
}

}  // namespace velnoria::testing
