#pragma once

#include <chrono>

#include "download/status_window.h"
#include "platform/event_loop.h"

namespace velnoria {

// Ctrl+C for velnoria-get, and its event loop. While a job runs, the first Ctrl+C is Stop/Abort
// (handed to the status window at the next yield); any other Ctrl+C ends the program at once
// with status 130. Only one instance may exist.
class TerminalEventLoop : public EventLoop {
  public:
    explicit TerminalEventLoop(bool errIsTerminal);
    ~TerminalEventLoop() override;
    TerminalEventLoop(const TerminalEventLoop&) = delete;
    TerminalEventLoop& operator=(const TerminalEventLoop&) = delete;

    // From here on the first Ctrl+C is a stop request for this status window.
    void beginJob(StatusWindow& status);
    void endJob();

    void yieldOnce(std::chrono::milliseconds maxBlock) override;
    bool stopPending() const override;

  private:
    void deliverStops();

    StatusWindow* status_ = nullptr;
    int delivered_ = 0;
};

}  // namespace velnoria
