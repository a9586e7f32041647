#pragma once

#include <functional>

#include "platform/event_loop.h"
#include "platform/transfer_engine.h"
#include "platform/url_download.h"

namespace velnoria {

// A whole download on the transfer engine: starts the transfer and yields to the event loop,
// which drives the engine, until the transfer has ended. The windows and every other transfer go
// on meanwhile, and a download may start inside another one's wait.
class WaitingDownload : public UrlDownload {
  public:
    // eventLoop must move engine's transfers on when it yields (a DrivingEventLoop).
    WaitingDownload(TransferEngine& engine, EventLoop& eventLoop)
        : engine_(engine), eventLoop_(eventLoop) {}

    using UrlDownload::download;
    DownloadOutcome download(const TransferRequest& request, const ByteSink& sink) override;
    void setInterruption(std::function<bool()> interrupted) override;

  private:
    TransferEngine& engine_;
    EventLoop& eventLoop_;
    std::function<bool()> interrupted_;
};

}  // namespace velnoria
