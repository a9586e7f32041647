#pragma once

#include <cstddef>

namespace velnoria::testing {

// The status a process ends with when a write made a file pass the size set below.
inline constexpr int kEndedAbruptly = 77;

// From here on, a write that would make a file of this process longer than `bytes` ends the
// process on the spot, as a second Ctrl+C does: the temporary files in hand removed, nothing
// unwound, status kEndedAbruptly. Only for the child of a death test (EXPECT_EXIT).
void endAbruptlyWhenAFilePasses(std::size_t bytes);

}  // namespace velnoria::testing
