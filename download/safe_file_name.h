#pragma once

#include <string>
#include <string_view>

namespace velnoria {

// The file name under which a download may be saved: only what follows the last "/" or "\" of
// the given name. "", ".", ".." and names holding a control character (a NUL included) give "",
// which no file is ever written under.
std::string safeFileName(std::string_view name);

}  // namespace velnoria
