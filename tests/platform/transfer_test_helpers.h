#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/event_loop.h"

namespace velnoria::testing {

// An event loop with nothing to do, that can play a user who keeps the program busy.
class CountingEventLoop : public EventLoop {
  public:
    void yieldOnce(std::chrono::milliseconds maxBlock) override;
    int yields = 0;
    std::function<void()> onYield;  // runs inside each yield when set
};

// Process CPU time used so far.
std::chrono::microseconds processCpuTime();

// Peak resident memory of the process, in KiB.
long peakResidentKiB();

// A port on loopback where nothing listens.
std::uint16_t closedPort();

}  // namespace velnoria::testing
