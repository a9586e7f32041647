#include "platform/referer.h"

#include <optional>

#include "core/text.h"

namespace velnoria {

namespace {

// Browsers send no longer Referer than this; a longer address is cut to its origin.
constexpr std::size_t kMaxRefererBytes = 4096;

// The parts of an http(s) address that decide what a Referer may show.
struct Address {
    std::string scheme;     // "http" or "https", lower case
    std::string host;       // lower case, brackets of an IPv6 literal kept
    std::string port;       // as written; "" for the scheme's own
    std::string_view path;  // path and query, without the fragment; may be empty
};

bool isSafeByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte != 0x7f;
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::optional<Address> readAddress(std::string_view url) {
    url = trim(url);
    // Nothing that could end a header line or hide in one ever reaches the request.
    for (const char c : url) {
        if (!isSafeByte(c)) return std::nullopt;
    }
    Address address;
    const auto colon = url.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    address.scheme = lowerCase(url.substr(0, colon));
    if (address.scheme != "http" && address.scheme != "https") return std::nullopt;
    std::string_view rest = url.substr(colon + 1);
    if (!rest.starts_with("//")) return std::nullopt;
    rest.remove_prefix(2);

    const auto authorityEnd = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, authorityEnd);
    std::string_view tail =
        authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
    tail = tail.substr(0, tail.find('#'));
    const auto at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);

    std::string_view host = authority;
    std::string_view port;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = authority.substr(0, close + 1);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (!after.starts_with(':')) return std::nullopt;
            port = after.substr(1);
        }
    } else if (const auto portColon = authority.find(':'); portColon != std::string_view::npos) {
        host = authority.substr(0, portColon);
        port = authority.substr(portColon + 1);
    }
    if (host.empty()) return std::nullopt;
    for (const char c : port) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    // Leading zeros and the scheme's own port name the same origin as no port at all.
    while (port.size() > 1 && port.front() == '0') port.remove_prefix(1);
    const std::string_view ownPort = address.scheme == "https" ? "443" : "80";
    address.host = lowerCase(host);
    address.port = port == ownPort ? std::string() : std::string(port);
    address.path = tail;
    return address;
}

std::string originOf(const Address& address) {
    std::string origin = address.scheme + "://" + address.host;
    if (!address.port.empty()) origin += ":" + address.port;
    return origin;
}

}  // namespace

std::string refererToSend(std::string_view referringPage, std::string_view target) {
    const auto page = readAddress(referringPage);
    const auto to = readAddress(target);
    if (!page || !to) return {};
    if (page->scheme == "https" && to->scheme == "http") return {};
    const std::string origin = originOf(*page);
    if (origin != originOf(*to)) return origin + "/";
    std::string full = origin + (page->path.starts_with('/') ? "" : "/") + std::string(page->path);
    return full.size() <= kMaxRefererBytes ? full : origin + "/";
}

}  // namespace velnoria
