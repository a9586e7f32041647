#pragma once

#include <cstdint>

namespace velnoria {

// What the status window's buttons asked of the job; shared by the buttons and the job.
enum class RunState : std::uint8_t { Running, Paused, StopRequested };

}  // namespace velnoria
