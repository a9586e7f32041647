#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/curl/curl_common.h"
#include "platform/curl/response_header_block.h"
#include "platform/event_loop.h"
#include "platform/transfer_control.h"

namespace velnoria {

// The transfer control on libcurl's multi interface. One easy handle serves every request, so
// connections stay alive between requests. The body is buffered up to one piece (the size last
// asked for) plus one network read; beyond that the transfer is paused until the caller asks
// for more.
class CurlTransferControl : public TransferControl {
  public:
    CurlTransferControl(EventLoop& eventLoop, const CurlUrlCache& cache);
    ~CurlTransferControl() override;
    CurlTransferControl(const CurlTransferControl&) = delete;
    CurlTransferControl& operator=(const CurlTransferControl&) = delete;

    void setTimeoutSeconds(int seconds) override;
    void start(const std::string& url, Method method) override;
    bool stillExecuting() override;
    int failureCode() const override;
    std::string failureReason() const override;
    std::string header(const std::string& name) const override;
    std::string headerBlock() const override;
    void readPiece(std::size_t count, std::string& piece) override;
    void cancel() override;
    void setInterruption(std::function<bool()> interrupted) override;

    // The most body bytes held at once since the last start(), for checking the memory bound.
    std::size_t maxBuffered() const { return maxBuffered_; }

  private:
    enum class State { Idle, AwaitingHeaders, Body, Ended };
    using Clock = std::chrono::steady_clock;

    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);

    void drive();
    void collectFinished();
    void checkStall();
    void fail(CURLcode code, std::string reason = {});
    void release();
    bool allBytesArrived() const;
    void detach();
    void resume();
    bool retryOnFreshConnection(CURLcode result);

    EventLoop& eventLoop_;
    const CurlUrlCache& cache_;
    CURLM* multi_ = nullptr;
    CURL* easy_ = nullptr;
    RequestHeaders requestHeaders_;
    int timeoutSeconds_ = 0;
    std::function<bool()> interrupted_;

    State state_ = State::Idle;
    bool attached_ = false;
    bool answered_ = false;  // a byte of this request's answer arrived
    bool retried_ = false;   // sent a second time, over a new connection
    int code_ = 0;
    std::string reason_;
    std::string
        refusal_;  // why a callback refused the answer, which libcurl reports as a write error
    ResponseHeaderBlock headers_;
    std::string finalHeaders_;

    std::size_t buffered() const { return buffer_.size() - readPos_; }

    std::string buffer_;  // body bytes received; those from readPos_ on are not handed out yet
    std::size_t readPos_ = 0;
    std::size_t wanted_;  // pause once the buffer holds this many: the last piece asked for
    bool paused_ = false;
    std::size_t maxBuffered_ = 0;

    // Stall accounting: only time spent waiting on the network counts. waited_ runs since the
    // last byte, window_ over the bytes of the current time-out window.
    bool received_ = false;
    Clock::duration waited_{};
    Clock::duration window_{};
    std::uint64_t windowBytes_ = 0;
    std::optional<Clock::time_point> lastDrive_;
};

}  // namespace velnoria
