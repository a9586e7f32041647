#include "platform/driving_event_loop.h"

#include <algorithm>

namespace velnoria {

namespace {

// The longest the front end waits for its events while the network is waited on: a window
// stays responsive, and a keypress is seen soon enough.
constexpr std::chrono::milliseconds kNetworkWait{10};

}  // namespace

void DrivingEventLoop::yieldOnce(std::chrono::milliseconds maxBlock) {
    if (engine_.running() == 0) {
        frontEnd_.yieldOnce(maxBlock);
        return;
    }
    engine_.drive(std::clamp(maxBlock, std::chrono::milliseconds{0}, kNetworkWait));
    frontEnd_.yieldOnce();
}

}  // namespace velnoria
