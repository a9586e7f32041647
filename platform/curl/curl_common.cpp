#include "platform/curl/curl_common.h"

#include <cerrno>
#include <new>
#include <stdexcept>

#include "core/program_identity.h"
#include "core/text.h"

namespace velnoria {

void ensureCurlGlobalInit() {
    static std::once_flag once;
    // Never cleaned up: other handles may live until the process ends.
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw std::runtime_error("libcurl could not be initialised");
        }
    });
}

RequestHeaders::~RequestHeaders() {
    curl_slist_free_all(list_);
}

void RequestHeaders::reset(bool bypassCaches) {
    curl_slist_free_all(list_);
    list_ = nullptr;
    if (bypassCaches) {
        list_ = curl_slist_append(list_, "Cache-Control: no-cache");
        list_ = curl_slist_append(list_, "Pragma: no-cache");
    }
}

void RequestHeaders::add(const std::string& line) {
    curl_slist* longer = curl_slist_append(list_, line.c_str());
    if (longer == nullptr) throw std::bad_alloc();
    list_ = longer;
}

void applyCommonOptions(CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    // The bytes on disk must be the bytes the server sent.
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    // A proxy tunnel's own answer is not the response.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kNetworkReadBytes);
}

void applyRequestOptions(CURL* easy, const std::string& url, const RequestHeaders& headers) {
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.list());
}

bool worthAFreshConnection(CURL* easy, CURLcode result) {
    switch (result) {
        case CURLE_UNSUPPORTED_PROTOCOL:  // stray bytes read as an HTTP/0.9 answer
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            break;
        default:
            return false;
    }
    long newConnections = -1;
    curl_easy_getinfo(easy, CURLINFO_NUM_CONNECTS, &newConnections);
    return newConnections == 0;
}

std::string failureText(CURL* easy, CURLcode result) {
    long osError = 0;
    curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError);
    switch (result) {
        case CURLE_OPERATION_TIMEDOUT:
            return "timed out";
        case CURLE_COULDNT_RESOLVE_PROXY:
            return "proxy not found";
        case CURLE_COULDNT_RESOLVE_HOST:
            return "host not found";
        case CURLE_COULDNT_CONNECT:
            return osError == ECONNREFUSED ? "connection refused" : "cannot connect";
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return osError == ECONNRESET ? "connection reset" : "connection broken";
        case CURLE_PARTIAL_FILE:
            return "connection closed early";
        case CURLE_GOT_NOTHING:
            return "connection closed without an answer";
        case CURLE_WEIRD_SERVER_REPLY:
            return "invalid answer";
        case CURLE_UNSUPPORTED_PROTOCOL:
            return "not an http(s) address";
        case CURLE_TOO_MANY_REDIRECTS:
            return "too many redirects";
        case CURLE_URL_MALFORMAT:
            return "malformed address";
        case CURLE_OUT_OF_MEMORY:
            // What libcurl gives for a header line past its own bound of 100 KB.
            return "header block too large";
        default:
            return curl_easy_strerror(result);
    }
}

std::string byteCountText(std::uint64_t bytes) {
    constexpr std::uint64_t kMiB = 1024 * 1024;
    if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

std::string framingRefusal(const std::string& headerBlock) {
    const std::string both = differingHeaderValues(headerBlock, "Content-Length");
    return both.empty() ? std::string() : "invalid answer: Content-Length " + both;
}

bool StallWatch::timedOut(int timeoutSeconds) {
    if (timeoutSeconds <= 0) return false;
    const std::chrono::seconds timeout(timeoutSeconds);
    if (silence_ >= timeout) return true;
    if (window_ >= timeout) {
        const auto least = static_cast<std::uint64_t>(kLowSpeedBytesPerSecond) *
                           static_cast<std::uint64_t>(timeoutSeconds);
        if (windowBytes_ < least) return true;
        window_ = {};
        windowBytes_ = 0;
    }
    return false;
}

void CurlUrlCache::deleteEntry(const std::string& url) {
    std::lock_guard lock(mutex_);
    marked_.insert(url);
}

bool CurlUrlCache::mustBypass(const std::string& url) const {
    std::lock_guard lock(mutex_);
    return marked_.count(url) != 0;
}

}  // namespace velnoria
