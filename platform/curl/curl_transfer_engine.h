#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/curl/curl_common.h"
#include "platform/transfer_engine.h"

namespace velnoria {

// The transfer engine on one libcurl multi handle: one connection cache, one cookie jar (a share
// handle every transfer is attached to), every transfer moved on by drive() on the calling
// thread. Redirects are followed here rather than by libcurl, so that each hop gets the Referer
// and the host's cookies that belong to it. Body bytes go from libcurl's buffer to the listener
// without a copy; easy handles of ended transfers are kept for the next ones.
class CurlTransferEngine : public TransferEngine {
  public:
    explicit CurlTransferEngine(const CurlUrlCache& cache);
    ~CurlTransferEngine() override;
    CurlTransferEngine(const CurlTransferEngine&) = delete;
    CurlTransferEngine& operator=(const CurlTransferEngine&) = delete;

    void setTimeoutSeconds(int seconds) override;
    Id start(const TransferRequest& request, TransferListener& listener) override;
    void cancel(Id id) override;
    std::size_t running() const override { return transfers_.size(); }
    void drive(std::chrono::milliseconds maxBlock) override;
    void setUserAgent(const std::string& userAgent) override;
    void replaceCookies(const std::vector<Cookie>& cookies) override;

  private:
    using Clock = std::chrono::steady_clock;
    struct Transfer;

    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);

    bool sendHop(Transfer& transfer);
    void countSilence(Clock::time_point from, Clock::time_point to);
    void collectFinished();
    void settle(Transfer& transfer, CURLcode result);
    void followRedirect(Transfer& transfer);
    void endUnsent();
    void endStalled();
    void finish(Transfer& transfer, int code, std::string reason, bool cutShort = false);
    void detach(Transfer& transfer);
    CURL* takeHandle();
    void giveBack(CURL* easy);

    const CurlUrlCache& cache_;
    CURLM* multi_ = nullptr;
    CURLSH* share_ = nullptr;  // the cookie jar
    CURL* jar_ = nullptr;      // a handle on the jar alone, through which it is replaced
    std::string userAgent_;
    int timeoutSeconds_ = 0;
    Id nextId_ = 1;
    std::map<Id, std::unique_ptr<Transfer>> transfers_;
    std::vector<CURL*> spare_;
    std::optional<Clock::time_point> lastDrive_;
};

}  // namespace velnoria
