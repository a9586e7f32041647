#include "platform/curl/curl_global.h"

#include <curl/curl.h>

#include <mutex>
#include <stdexcept>

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

}  // namespace velnoria
