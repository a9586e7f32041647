#include "platform/curl/curl_url_cache.h"

namespace velnoria {

void CurlUrlCache::deleteEntry(const std::string& url) {
    std::lock_guard lock(mutex_);
    marked_.insert(url);
}

bool CurlUrlCache::mustBypass(const std::string& url) const {
    std::lock_guard lock(mutex_);
    return marked_.count(url) != 0;
}

}  // namespace velnoria
