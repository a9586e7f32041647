#pragma once

#include <functional>
#include <string>

namespace velnoria {

// The argument text: the arguments after the program's name, joined by single blanks.
std::string argumentText(int argc, const char* const* argv);

// Only an empty argument text or one holding " /s:" lets the program start; the command line
// carries no value the program uses.
bool commandLineAllowsStart(const std::string& argumentText);

// The desktop program from start-up to its end, inside a running QApplication. Returns the
// process's exit code when the program ends through the event loop.
int runDesktopProgram(const std::string& argumentText);

// Ends the process at once: waits and jobs nested in event handlers are simply abandoned. The
// step set with setLastStep runs first.
[[noreturn]] void endProcessNow(int exitCode);

// What must happen before the process ends, or nothing when empty: the main window closes its
// browser's profile, so the engine writes its cookies.
void setLastStep(std::function<void()> step);

}  // namespace velnoria
