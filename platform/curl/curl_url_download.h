#pragma once

#include <curl/curl.h>

#include <functional>

#include "platform/curl/curl_common.h"
#include "platform/url_download.h"

namespace velnoria {

// A blocking download on libcurl's easy interface. The handle is kept, so successive downloads
// reuse their connections. The time-out covers connecting and any stretch without a byte.
class CurlUrlDownload : public UrlDownload {
  public:
    CurlUrlDownload(int timeoutSeconds, const CurlUrlCache& cache);
    ~CurlUrlDownload() override;
    CurlUrlDownload(const CurlUrlDownload&) = delete;
    CurlUrlDownload& operator=(const CurlUrlDownload&) = delete;

    void setTimeoutSeconds(int seconds);
    DownloadOutcome download(const std::string& url, const ByteSink& sink,
                             std::uint64_t maxBytes) override;
    void setInterruption(std::function<bool()> interrupted) override;

  private:
    int timeoutSeconds_;
    std::function<bool()> interrupted_;
    const CurlUrlCache& cache_;
    CURL* easy_ = nullptr;
    RequestHeaders requestHeaders_;
};

}  // namespace velnoria
