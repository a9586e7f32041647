#include "platform/curl/url_resolution.h"

#include <curl/curl.h>

#include <cctype>
#include <memory>

namespace velnoria {

namespace {

struct UrlHandleDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlHandleDeleter>;

struct CurlText {
    char* text = nullptr;
    ~CurlText() { curl_free(text); }
};

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Leading and trailing C0 controls and spaces go, tabs and line ends anywhere go.
std::string cleanReference(std::string_view reference) {
    while (!reference.empty() && static_cast<unsigned char>(reference.front()) <= 0x20) {
        reference.remove_prefix(1);
    }
    while (!reference.empty() && static_cast<unsigned char>(reference.back()) <= 0x20) {
        reference.remove_suffix(1);
    }
    std::string out;
    out.reserve(reference.size());
    for (const char c : reference) {
        if (c != '\t' && c != '\n' && c != '\r') out.push_back(c);
    }
    return out;
}

// The scheme of an absolute reference ("" when it is relative), in lower case.
std::string schemeOf(std::string_view reference) {
    if (reference.empty() || !std::isalpha(static_cast<unsigned char>(reference[0]))) return {};
    for (std::size_t i = 1; i < reference.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(reference[i]);
        if (c == ':') return lower(reference.substr(0, i));
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return {};
    }
    return {};
}

bool isSpecialScheme(const std::string& scheme) {
    return scheme == "http" || scheme == "https" || scheme == "file" || scheme == "ftp";
}

// Percent-encodes what a browser encodes before it stores an address.
std::string encodeUnsafe(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`') {
            out.push_back('%');
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 0x0F]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// Backslashes count as slashes in the path of web addresses.
void turnBackslashes(std::string& reference) {
    const std::size_t end = reference.find_first_of("?#");
    for (std::size_t i = 0; i < reference.size() && i < end; ++i) {
        if (reference[i] == '\\') reference[i] = '/';
    }
}

std::string withoutFragment(std::string_view url) {
    return std::string(url.substr(0, url.find('#')));
}

void normaliseHostAndPort(CURLU* handle) {
    CurlText host;
    if (curl_url_get(handle, CURLUPART_HOST, &host.text, 0) == CURLUE_OK && host.text != nullptr) {
        const std::string lowered = lower(host.text);
        if (lowered != host.text) curl_url_set(handle, CURLUPART_HOST, lowered.c_str(), 0);
    }
    CurlText scheme;
    CurlText port;
    if (curl_url_get(handle, CURLUPART_SCHEME, &scheme.text, 0) != CURLUE_OK ||
        curl_url_get(handle, CURLUPART_PORT, &port.text, 0) != CURLUE_OK) {
        return;
    }
    const std::string s = scheme.text;
    const std::string p = port.text;
    if ((s == "http" && p == "80") || (s == "https" && p == "443") || (s == "ftp" && p == "21")) {
        curl_url_set(handle, CURLUPART_PORT, nullptr, 0);
    }
}

}  // namespace

std::string resolveUrl(std::string_view base, std::string_view reference) {
    std::string ref = cleanReference(reference);
    if (ref.empty()) return withoutFragment(base);
    if (ref.front() == '#') return withoutFragment(base) + encodeUnsafe(ref);

    const std::string scheme = schemeOf(ref);
    if (!scheme.empty() && !isSpecialScheme(scheme)) {
        // javascript:, mailto:, data: ... are reported as written.
        return scheme + ref.substr(scheme.size());
    }
    turnBackslashes(ref);
    const std::string encoded = encodeUnsafe(ref);

    UrlHandle handle(curl_url());
    if (!handle) return ref;
    if (!schemeOf(base).empty() &&
        curl_url_set(handle.get(), CURLUPART_URL, std::string(base).c_str(), 0) != CURLUE_OK) {
        handle.reset(curl_url());
    }
    if (curl_url_set(handle.get(), CURLUPART_URL, encoded.c_str(), 0) != CURLUE_OK) {
        return cleanReference(reference);
    }
    normaliseHostAndPort(handle.get());
    CurlText out;
    if (curl_url_get(handle.get(), CURLUPART_URL, &out.text, 0) != CURLUE_OK) {
        return cleanReference(reference);
    }
    return out.text;
}

std::string fileUrlOfPath(std::string_view absolutePath) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : absolutePath) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u) ||
            std::string_view("/-._~!$&'()*+,;=:@").find(c) != std::string_view::npos) {
            url.push_back(c);
        } else {
            url.push_back('%');
            url.push_back(kHex[u >> 4]);
            url.push_back(kHex[u & 0x0F]);
        }
    }
    return url;
}

}  // namespace velnoria
