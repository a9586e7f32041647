#pragma once

#include <curl/curl.h>

#include <string>

#include "platform/program_identity.h"

namespace velnoria {

inline constexpr long kMaxRedirects = 10;
// The most libcurl reads from the network in one go, and so hands over in one call.
inline constexpr long kNetworkReadBytes = 64 * 1024;

// The request headers a request carries; owns its list.
class RequestHeaders {
  public:
    RequestHeaders() = default;
    ~RequestHeaders();
    RequestHeaders(const RequestHeaders&) = delete;
    RequestHeaders& operator=(const RequestHeaders&) = delete;

    void reset(bool bypassCaches);
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

}  // namespace velnoria
