#pragma once

#include <string>
#include <string_view>

namespace velnoria {

// Whether the address is one the program may ask for: "http://" or "https://" (letter case
// ignored) followed by a host name. Every request of the program is checked with this.
bool isWebAddress(std::string_view address);

// The host name of a web address in lower case, without a user or a port; "" for any other
// address. Blanks and line ends around the address are passed over.
std::string webHostName(std::string_view address);

}  // namespace velnoria
