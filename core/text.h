#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velnoria {

// Text as the program reads it from people and from servers: blanks, ASCII letter case, and the
// values an HTTP answer carries. Positions are 1-based where a function says so; 0 is "none".

inline constexpr std::string_view kBlanks = " \t";

// text without the given characters at either end.
std::string_view trim(std::string_view text, std::string_view blanks = kBlanks);

// Whether text begins with prefix, ASCII letter case ignored.
bool startsWithNoCase(std::string_view text, std::string_view prefix);

// Whether the two texts are equal, ASCII letter case ignored.
bool sameNoCase(std::string_view a, std::string_view b);

// Position of the first occurrence of marker in text, ASCII letter case ignored; 0 if none.
// Bytes outside ASCII compare exactly.
std::size_t positionIgnoringCase(std::string_view text, std::string_view marker);

// A "Content-Length" value the program trusts: a plain decimal number from 0 to 2147483647,
// blanks around it allowed. Anything else (empty, signs, other characters, too large) is none.
std::optional<std::int32_t> readContentLength(std::string_view value);

// The status code of a header block's status line ("HTTP/1.1 404 Not Found" gives 404), or 0
// when the block does not start with a readable status line.
int statusCode(std::string_view headerBlock);

// The trimmed value of the first header of that name in a header block (letter case of the name
// ignored, the status line passed over), "" when there is none.
std::string headerValue(std::string_view headerBlock, std::string_view name);

}  // namespace velnoria
