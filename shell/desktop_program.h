#pragma once

#include <string>

namespace velnoria {

// The desktop program from start-up to its end, inside a running QApplication. Returns the
// process's exit code when the program ends through the event loop.
int runDesktopProgram(const std::string& argumentText);

// Ends the process at once: waits and jobs nested in event handlers are simply abandoned.
[[noreturn]] void endProcessNow(int exitCode);

}  // namespace velnoria
