#pragma once

#include <chrono>

#include "download/status_window.h"
#include "platform/event_loop.h"

namespace velnoria {

// How velnoria-get ends when it is asked to: the status is 128 and the number of the signal, as a
// shell reports a program that a signal ended.
inline constexpr int kExitCtrlC = 130;         // SIGINT
inline constexpr int kExitTerminated = 143;    // SIGTERM
inline constexpr int kExitHungUp = 129;        // SIGHUP
inline constexpr int kExitOutputClosed = 141;  // standard output or error closed (SIGPIPE)

// Ctrl+C, SIGTERM, SIGHUP and a closed output for velnoria-get, and its event loop. While a job
// runs, the first of them is Stop/Abort (handed to the status window at the next yield); any
// further signal, or one outside a job, ends the program at once with the temporary files in
// hand removed. SIGPIPE is ignored: a write to a closed pipe fails with EPIPE instead, and the
// front end reports it with outputClosed(). Only one instance may exist.
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

    // Nobody reads the output any more: a job stops as on Ctrl+C, and outside a job the program
    // ends at once, quietly. Called again, it does nothing more.
    void outputClosed();

    // The exit status of the first stop request (kExitCtrlC ...), 0 when there was none.
    int stopStatus() const;

  private:
    void deliverStops();

    StatusWindow* status_ = nullptr;
    int delivered_ = 0;
};

}  // namespace velnoria
