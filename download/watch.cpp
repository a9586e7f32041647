#include "download/watch.h"

#include <algorithm>

namespace velnoria {

namespace {

// Each pass of the wait may block this long: the windows and Ctrl+C are served meanwhile.
constexpr std::chrono::milliseconds kPass{50};

}  // namespace

std::string watchRoundText(int newFiles, std::time_t nextCheck) {
    std::tm local{};
    char when[32] = "";
    if (::localtime_r(&nextCheck, &local) != nullptr) {
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    }
    return " " + std::to_string(newFiles) + " new file(s). Next check at " + when + ".\r\n";
}

bool waitForNextRound(RunState& runState, EventLoop& eventLoop,
                      std::chrono::steady_clock::time_point until) {
    for (;;) {
        if (runState == RunState::StopRequested) {
            runState = RunState::Running;
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) return true;
        eventLoop.yieldOnce(
            std::min(kPass, std::chrono::ceil<std::chrono::milliseconds>(until - now)));
    }
}

}  // namespace velnoria
