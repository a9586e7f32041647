#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velnoria {

// The text operations the host rules are written in. Positions are 1-based, as the rules count
// them; 0 means "not found". Comparisons are exact and case-sensitive.

// Raised when a walk over a text would pass position 32767: text positions in the field
// helpers are 16-bit, so a text of more than 32766 characters cannot be walked to its end.
class TextPositionOverflow : public std::overflow_error {
  public:
    TextPositionOverflow() : std::overflow_error("text position past 32767") {}
};

// Field n (from 1) of text cut at a one-character delimiter; "" when text is empty, n < 1 or n
// is past the last field. A delimiter of other than one character matches no character.
std::string field(std::string_view text, int n, std::string_view delimiter);

// Field k for the smallest k >= 1 whose next two fields are both empty: the last field, passing
// over empty fields at the end.
std::string lastField(std::string_view text, std::string_view delimiter);

// Runs one statement that computes a value with the field helpers. When a walk overflows the
// 16-bit positions the statement is skipped and target keeps its previous value.
template <typename Compute>
void assignField(std::string& target, Compute compute) {
    try {
        target = compute();
    } catch (const TextPositionOverflow&) {
    }
}

// Position of the first occurrence of what in text; 0 if none.
std::size_t positionOf(std::string_view text, std::string_view what);

inline bool contains(std::string_view text, std::string_view what) {
    return text.find(what) != std::string_view::npos;
}

// Every occurrence of what replaced by with, found left to right without overlap.
std::string replaceAll(std::string_view text, std::string_view what, std::string_view with);

// Only the first occurrence of what replaced by with.
std::string replaceFirst(std::string_view text, std::string_view what, std::string_view with);

// text from its p-th character on. A position before the start cannot be taken: the text is
// then left whole. A position past the end gives "".
std::string fromPosition(std::string_view text, long long p);

// The first m characters of text (all of it when shorter).
std::string firstChars(std::string_view text, std::size_t m);

}  // namespace velnoria
