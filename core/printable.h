#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velnoria {

// Whether text is well-formed UTF-8 without control characters (C0, DEL, C1): fit for a file
// name. It may still hold characters that printableText shows escaped.
bool isControlFreeUtf8(std::string_view text);

// The length in bytes of the well-formed UTF-8 character that text starts with, when it is no
// control character (C0, DEL, C1); 0 otherwise, and for an empty text.
std::size_t printableCharacterLength(std::string_view text);

// Text from a page, a server or a file as it may be shown in a log or on a terminal, the one way
// the program makes such text safe to show: control characters (C1 included) and bytes that are
// not UTF-8 written as \xHH, and the characters that turn the direction of the text around
// (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069) as \uHHHH, so no escape sequence
// of a server's reaches a terminal and no name shows other than it is. A text longer than
// `longest` bytes is cut there, on a character's boundary, and "..." follows.
std::string printableText(std::string_view text, std::size_t longest = std::string_view::npos);

// The same for several lines: each line as printableText shows it, its line end (LF or CR LF)
// kept, and a CR that ends the text (the first half of a line end written in two pieces).
std::string printableLines(std::string_view text);

}  // namespace velnoria
