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
// connections stay alive between requests. Body bytes are copied once, from libcurl's buffer
// straight into the caller's piece; bytes that arrive while no piece is asked for wait in a spare
// piece (at most one piece, the size last asked for), which the next readPiece takes over whole
// without copying. Beyond that the transfer is paused until the caller asks for more.
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

    std::size_t spilled() const { return spill_.size() - spillPos_; }
    void takeSpill(std::size_t count, std::string& piece);
    void noteHeld();

    // The piece a readPiece is filling right now, and how many bytes it wants.
    std::string* piece_ = nullptr;
    std::size_t pieceWanted_ = 0;
    // Body bytes received while no piece was being filled; those from spillPos_ on are not
    // handed out yet.
    std::string spill_;
    std::size_t spillPos_ = 0;
    std::size_t wanted_;  // the last piece asked for: the spill holds at most this many
    bool paused_ = false;
    std::size_t maxBuffered_ = 0;

    // Stall accounting: only time spent waiting on the network counts.
    StallWatch stall_;
    std::optional<Clock::time_point> lastDrive_;
};

}  // namespace velnoria
