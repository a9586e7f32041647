#include "shell/command_line.h"

namespace velnoria {

std::string argumentText(int argc, const char* const* argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    return text;
}

bool commandLineAllowsStart(const std::string& argumentText) {
    return argumentText.empty() || argumentText.find(" /s:") != std::string::npos;
}

}  // namespace velnoria
