#pragma once

#include "platform/event_loop.h"

namespace velnoria {

// Yielding in the desktop program: one pass of Qt's event processing, optionally blocking (never
// spinning) until an event arrives or maxBlock has passed.
class QtEventLoop : public EventLoop {
  public:
    void yieldOnce(std::chrono::milliseconds maxBlock = std::chrono::milliseconds{0}) override;
};

}  // namespace velnoria
