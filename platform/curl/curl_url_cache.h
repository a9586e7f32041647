#pragma once

#include <mutex>
#include <string>
#include <unordered_set>

#include "platform/url_download.h"

namespace velnoria {

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
