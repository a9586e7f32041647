#include "download/job_context.h"

namespace velnoria {

namespace {

// Each pass of a wait may block this long for the network or the windows: short enough that
// the windows never wait for it, long enough that a wait never spins a core.
constexpr std::chrono::milliseconds kPass{10};

}  // namespace

void JobContext::checkStop() {
    if (stopRequested()) stopNow();
}

void JobContext::stopNow() {
    // Everything in hand ends here: transfers, files half written, pages asked for ahead.
    if (cancelEverything) cancelEverything();
    program.runState = RunState::Running;
    throw JobStopped{};
}

void JobContext::waitUntil(const std::function<bool()>& done) {
    while (!done()) {
        if (services.engine.running() > 0) {
            services.engine.drive(kPass);
            services.eventLoop.yieldOnce();
        } else {
            services.eventLoop.yieldOnce(kPass);
        }
        if (onPass) onPass();
        // What ended in this pass has ended, even with a stop on its way: the stop is honoured
        // before the next thing begins.
        if (done()) return;
        checkStop();
    }
}

void JobContext::waitFor(std::chrono::milliseconds time) {
    const auto until = std::chrono::steady_clock::now() + time;
    waitUntil([&] { return std::chrono::steady_clock::now() >= until; });
}

}  // namespace velnoria
