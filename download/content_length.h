#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velnoria {

// A "Content-Length" value as the per-file download trusts it: a plain decimal number from 0 to
// 2147483647, blanks around it allowed. Anything else (empty, signs, other characters, too
// large) counts as no length at all.
std::optional<std::int32_t> readContentLength(std::string_view value);

}  // namespace velnoria
