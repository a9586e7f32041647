#pragma once

#include <string>

namespace velnoria {

// The About box's text, every line ended by CR LF, with one empty line after the e-mail line.
std::string aboutText();

}  // namespace velnoria
