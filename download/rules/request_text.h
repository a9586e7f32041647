#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velnoria {

// The texts a rule puts into its requests (cookies, header names and values, a form), checked
// when the rules file is read: nothing a rule writes can end a header line early or add one.

// Where a text cannot be used, and why.
struct TextFault {
    std::size_t offset = 0;  // byte offset of the faulty place in the text
    std::string message;
};

// The place of the first CR, LF or NUL in the text, which would end or cut a header line.
std::optional<std::size_t> lineBreakOrNul(std::string_view text);

// Whether the text is a header name (or cookie name): one or more of the characters HTTP allows
// in a token (letters, digits and !#$%&'*+-.^_`|~).
bool isToken(std::string_view text);

// Cookies as a rule writes them, "name=value; name2=value2": every pair a token, "=" and a value
// without a control character or ";" (blanks around a pair and empty pairs are passed over).
// Nothing when they are sound, else the first fault.
std::optional<TextFault> cookiesFault(std::string_view cookies);

// The cookies as they are sent: the pairs, trimmed, joined by "; ".
std::string cookiesToSend(std::string_view cookies);

// Whether the text is a SHA-256 hash written as 64 hexadecimal digits (either letter case).
bool isSha256Hex(std::string_view text);

}  // namespace velnoria
