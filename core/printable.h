#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velnoria {

// The length in bytes of the well-formed UTF-8 character that text starts with, when it is no
// control character (C0, DEL, C1); 0 otherwise, and for an empty text.
std::size_t printableCharacterLength(std::string_view text);

// Whether text is well-formed UTF-8 without control characters (C0, DEL, C1).
bool isPrintableUtf8(std::string_view text);

// Text from a page or a server as it may be shown in a log or on a terminal: control characters
// (C1 included) and bytes that are not UTF-8 written as \xHH, so no escape sequence of a server's
// ever reaches a terminal.
std::string printableText(std::string_view text);

}  // namespace velnoria
