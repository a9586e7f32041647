#include "shell/network_parts.h"

#include "platform/curl/curl_transfer_control.h"
#include "platform/curl/curl_url_cache.h"
#include "platform/curl/curl_url_download.h"

namespace velnoria {

std::unique_ptr<NetworkParts> makeNetworkParts(EventLoop& eventLoop, int timeoutSeconds) {
    auto parts = std::make_unique<NetworkParts>();
    auto cache = std::make_unique<CurlUrlCache>();
    parts->inet = std::make_unique<CurlTransferControl>(eventLoop, *cache);
    parts->urlDownload = std::make_unique<CurlUrlDownload>(timeoutSeconds, *cache);
    parts->urlCache = std::move(cache);
    return parts;
}

}  // namespace velnoria
