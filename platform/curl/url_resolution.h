#pragma once

#include <string>
#include <string_view>

namespace velnoria {

// The address a browser's document object model reports for an attribute value (an img src, an
// a href) written in a page whose base address is base (absolute): relative forms resolved,
// the host in lower case, a default port dropped, spaces and non-ASCII bytes percent-encoded.
// A value that does not parse as an address is given back as written (as img.src does), minus
// surrounding blanks and embedded tabs and line ends.
std::string resolveUrl(std::string_view base, std::string_view reference);

// "file://" address of an absolute local path.
std::string fileUrlOfPath(std::string_view absolutePath);

}  // namespace velnoria
