#include "platform/waiting_download.h"

#include <chrono>
#include <utility>

#include "core/text.h"

namespace velnoria {

namespace {

// How long one yield may wait for the network or the windows.
constexpr std::chrono::milliseconds kWaitStep{10};

// Hears one transfer and keeps what its outcome needs.
class Collector : public TransferListener {
  public:
    explicit Collector(const ByteSink& sink) : sink_(sink) {}

    bool onHeaders(const std::string& headerBlock) override {
        headerBlock_ = headerBlock;
        return true;
    }
    bool onBody(const char* data, std::size_t size) override {
        if (sink_(data, size)) return true;
        refused_ = true;
        return false;
    }
    void onEnd(const TransferEnd& end) override {
        end_ = end;
        ended_ = true;
    }

    bool ended() const { return ended_; }
    bool refused() const { return refused_; }
    const TransferEnd& end() const { return end_; }
    const std::string& headerBlock() const { return headerBlock_; }

  private:
    const ByteSink& sink_;
    std::string headerBlock_;
    bool refused_ = false;
    bool ended_ = false;
    TransferEnd end_;
};

// Cancels the transfer when the wait is left before it ended (a stop, or an exception from a
// handler run inside a yield): its listener lives on this wait's stack.
class Unfinished {
  public:
    Unfinished(TransferEngine& engine, TransferEngine::Id id, const Collector& collector)
        : engine_(engine), id_(id), collector_(collector) {}
    ~Unfinished() {
        if (!collector_.ended()) engine_.cancel(id_);
    }
    Unfinished(const Unfinished&) = delete;
    Unfinished& operator=(const Unfinished&) = delete;

  private:
    TransferEngine& engine_;
    TransferEngine::Id id_;
    const Collector& collector_;
};

}  // namespace

void WaitingDownload::setInterruption(std::function<bool()> interrupted) {
    interrupted_ = std::move(interrupted);
}

DownloadOutcome WaitingDownload::download(const TransferRequest& request, const ByteSink& sink) {
    Collector collector(sink);
    const TransferEngine::Id id = engine_.start(request, collector);
    bool stopped = false;
    {
        const Unfinished unfinished(engine_, id, collector);
        while (!collector.ended()) {
            eventLoop_.yieldOnce(kWaitStep);
            if (!collector.ended() && interrupted_ && interrupted_()) {
                stopped = true;
                break;
            }
        }
    }

    DownloadOutcome outcome;
    outcome.headerBlock = collector.headerBlock();
    outcome.contentType = headerValue(outcome.headerBlock, "Content-Type");
    outcome.written = !collector.refused();
    if (stopped) {
        outcome.interrupted = true;
        outcome.httpStatus = statusCode(outcome.headerBlock);
        outcome.error = "stopped";
        return outcome;
    }
    const TransferEnd& end = collector.end();
    outcome.httpStatus = end.httpStatus;
    outcome.finalUrl = end.finalUrl;
    if (collector.refused()) {
        outcome.error = "the received data could not be written";
    } else if (end.failureCode != 0) {
        outcome.error = end.failureReason;
    } else if (end.cutShort) {
        outcome.error = "connection closed early";
    }
    outcome.transferred = outcome.error.empty();
    return outcome;
}

}  // namespace velnoria
