#pragma once

#include <curl/curl.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/curl/curl_common.h"
#include "platform/curl/response_header_block.h"
#include "platform/transfer_pool.h"

namespace velnoria {

// The pool on one libcurl multi handle. Easy handles are kept for the next request, and the
// multi handle keeps the connections, so successive requests to a host reuse them. Body bytes go
// from libcurl's buffer to the listener without a copy.
class CurlTransferPool : public TransferPool {
  public:
    explicit CurlTransferPool(const CurlUrlCache& cache);
    ~CurlTransferPool() override;
    CurlTransferPool(const CurlTransferPool&) = delete;
    CurlTransferPool& operator=(const CurlTransferPool&) = delete;

    void setTimeoutSeconds(int seconds) override;
    Id start(const std::string& url, PoolListener& listener, Method method) override;
    void cancel(Id id) override;
    std::size_t running() const override { return transfers_.size(); }
    void drive(std::chrono::milliseconds maxBlock) override;

  private:
    using Clock = std::chrono::steady_clock;
    struct Transfer;

    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);

    void finish(Transfer& transfer, int code, std::string reason = {});
    void collectFinished();
    void release(CURL* easy);

    const CurlUrlCache& cache_;
    CURLM* multi_ = nullptr;
    int timeoutSeconds_ = 0;
    Id nextId_ = 1;
    std::map<Id, std::unique_ptr<Transfer>> transfers_;
    std::vector<CURL*> spare_;  // easy handles of ended transfers, for the next ones
    std::optional<Clock::time_point> lastDrive_;
};

}  // namespace velnoria
