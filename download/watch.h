#pragma once

#include <chrono>
#include <ctime>
#include <string>

#include "download/run_state.h"
#include "platform/event_loop.h"

// Watching a thread: the job runs again after a wait, each round fetching only what is new (the
// archive skips the rest), until the user stops it.

namespace velnoria {

// The line that ends a round: " N new file(s). Next check at YYYY-MM-DD HH:MM:SS." (local time),
// with CR LF.
std::string watchRoundText(int newFiles, std::time_t nextCheck);

// Waits until `until`, yielding to the event loop, where Pause holds the wait (its loop runs
// nested in the yield) and Stop/Abort ends it. False when a stop ended it; the run state is then
// running again.
bool waitForNextRound(RunState& runState, EventLoop& eventLoop,
                      std::chrono::steady_clock::time_point until);

}  // namespace velnoria
