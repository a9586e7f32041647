#pragma once

#include <memory>

#include "platform/event_loop.h"
#include "platform/transfer_control.h"
#include "platform/url_download.h"

namespace velnoria {

// The program's network: the transfer control of the job and the blocking downloads of the page
// scans and the update check, sharing the marks of addresses that must bypass caches.
struct NetworkParts {
    std::unique_ptr<UrlCache> urlCache;
    std::unique_ptr<TransferControl> inet;
    std::unique_ptr<UrlDownload> urlDownload;
};

std::unique_ptr<NetworkParts> makeNetworkParts(EventLoop& eventLoop, int timeoutSeconds);

}  // namespace velnoria
