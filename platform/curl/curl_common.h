#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>

#include "platform/url_download.h"

// What every libcurl request of the program shares: the library's set-up, the options, the
// request headers, and the marks of addresses that must bypass caches.

namespace velnoria {

// libcurl's process-wide set-up, done once before the first handle whatever thread asks first.
void ensureCurlGlobalInit();

inline constexpr long kMaxRedirects = 10;
// The most libcurl reads from the network in one go, and so hands over in one call.
inline constexpr long kNetworkReadBytes = 64 * 1024;
// A transfer that brings fewer bytes than this per second, taken over a whole time-out, is timed
// out: a drip of a byte now and then keeps no request alive.
inline constexpr long kLowSpeedBytesPerSecond = 100;

// The request headers a request carries; owns its list.
class RequestHeaders {
  public:
    RequestHeaders() = default;
    ~RequestHeaders();
    RequestHeaders(const RequestHeaders&) = delete;
    RequestHeaders& operator=(const RequestHeaders&) = delete;

    void reset(bool bypassCaches);
    // One more "Name: value" line.
    void add(const std::string& line);
    curl_slist* list() const { return list_; }

  private:
    curl_slist* list_ = nullptr;
};

// The options every request of the program shares: user agent, http(s) only (also when
// redirected), redirects followed, the body exactly as sent. Proxies come from the environment.
void applyCommonOptions(CURL* easy);

// The address and the per-request headers.
void applyRequestOptions(CURL* easy, const std::string& url, const RequestHeaders& headers);

// Whether a request that ended with `result` before any answer arrived is worth sending once more
// over a new connection: it went over a kept-alive connection that the server had meanwhile
// closed, reset, or filled with the tail of an earlier answer that ran past its length.
bool worthAFreshConnection(CURL* easy, CURLcode result);

// Why a request ended with `result`, in a few words for the log ("timed out", "connection
// reset", "host not found").
std::string failureText(CURL* easy, CURLcode result);

// A byte count for a reason: "32 MiB" when it is a whole number of MiB, else the bytes.
std::string byteCountText(std::uint64_t bytes);

// Why a final header block cannot frame its body ("" when it can): libcurl frames the body by one
// of two differing Content-Length values, and which one is right cannot be known.
std::string framingRefusal(const std::string& headerBlock);

// The time-out rule of every request that is driven step by step: no byte for a whole time-out,
// or fewer than kLowSpeedBytesPerSecond over a whole time-out window. Only the time spent waiting
// on the network is counted, so a paused job is not taken for a slow server.
class StallWatch {
  public:
    using Duration = std::chrono::steady_clock::duration;

    void reset() { *this = StallWatch{}; }
    // Bytes of the answer arrived (headers or body).
    void received(std::size_t bytes) {
        silence_ = {};
        windowBytes_ += bytes;
    }
    // Time spent waiting on the network.
    void waited(Duration time) {
        silence_ += time;
        window_ += time;
    }
    // True when the transfer has stalled past a time-out of that many seconds (0 = never).
    bool timedOut(int timeoutSeconds);

  private:
    Duration silence_{};
    Duration window_{};
    std::uint64_t windowBytes_ = 0;
};

// libcurl keeps no cache of its own, so "deleting" an entry marks the address instead: later
// requests for it ask every cache on the way (proxies) to fetch it afresh.
class CurlUrlCache : public UrlCache {
  public:
    void deleteEntry(const std::string& url) override;
    bool mustBypass(const std::string& url) const;

  private:
    mutable std::mutex mutex_;
    std::unordered_set<std::string> marked_;
};

}  // namespace velnoria
