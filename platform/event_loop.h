#pragma once

#include <chrono>

namespace velnoria {

// "Yield once to the event loop": handles what the windows (or the terminal) have pending.
// With maxBlock above zero it may block up to that long waiting for something to happen, so that
// a waiting loop never spins a core.
class EventLoop {
  public:
    virtual ~EventLoop() = default;
    virtual void yieldOnce(std::chrono::milliseconds maxBlock = std::chrono::milliseconds{0}) = 0;

    // Whether the user asked to stop in a way the next yield will deliver (velnoria-get's
    // Ctrl+C). A blocking download, which does not yield, asks this to end at once.
    virtual bool stopPending() const { return false; }
};

}  // namespace velnoria
