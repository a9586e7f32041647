#pragma once

#include <string_view>

namespace velnoria {

// True when the header block holds one of the two texts that mark a failed answer.
bool holdsErrorMarker(std::string_view headerBlock);

// The status code of the header block's status line ("HTTP/1.1 404 Not Found" gives 404), or 0
// when the block does not start with a readable status line.
int statusLineCode(std::string_view headerBlock);

}  // namespace velnoria
