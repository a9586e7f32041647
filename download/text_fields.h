#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velnoria {

// Raised when a walk over a text would pass position 32767: text positions in the field
// helpers are 16-bit, so a text of more than 32766 characters cannot be walked to its end.
class TextPositionOverflow : public std::overflow_error {
  public:
    TextPositionOverflow() : std::overflow_error("text position past 32767") {}
};

// Field n (from 1) of text cut at a one-character delimiter; "" when text is empty, n < 1 or n
// is past the last field. A delimiter of other than one character matches no character.
std::string retparm(std::string_view text, int n, std::string_view delimiter);

// Field k for the smallest k >= 1 whose next two fields are both empty: the last field, passing
// over empty fields at the end.
std::string retlast(std::string_view text, std::string_view delimiter);

}  // namespace velnoria
