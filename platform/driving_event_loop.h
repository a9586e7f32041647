#pragma once

#include <chrono>

#include "platform/event_loop.h"
#include "platform/transfer_engine.h"

namespace velnoria {

// The front end's event loop with the transfer engine beside it: every yield moves the transfers
// on as well, so a wait anywhere in the program (for a page, for the headers of a file, in a
// dialog) keeps every transfer running. While transfers run, a yield waits on the network for at
// most 10 ms and then handles what the front end has pending without waiting; with none it is
// the front end's own yield.
class DrivingEventLoop : public EventLoop {
  public:
    DrivingEventLoop(EventLoop& frontEnd, TransferEngine& engine)
        : frontEnd_(frontEnd), engine_(engine) {}

    void yieldOnce(std::chrono::milliseconds maxBlock = std::chrono::milliseconds{0}) override;
    bool stopPending() const override { return frontEnd_.stopPending(); }

  private:
    EventLoop& frontEnd_;
    TransferEngine& engine_;
};

}  // namespace velnoria
