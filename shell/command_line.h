#pragma once

#include <string>

namespace velnoria {

// The argument text: the arguments after the program's name, joined by single blanks.
std::string argumentText(int argc, const char* const* argv);

// Only an empty argument text or one holding " /s:" lets the program start.
bool commandLineAllowsStart(const std::string& argumentText);

}  // namespace velnoria
