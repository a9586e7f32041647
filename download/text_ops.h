#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "download/text_fields.h"

namespace velnoria {

// The text operations the host rules are written in. Positions are 1-based; 0 means "not found".

// Position of the first occurrence of what in text, exact and case-sensitive; 0 if none.
std::size_t positionOf(std::string_view text, std::string_view what);

inline bool contains(std::string_view text, std::string_view what) {
    return text.find(what) != std::string_view::npos;
}

// Position of the first occurrence of marker in text, ASCII letter case ignored; 0 if none.
std::size_t positionIgnoringCase(std::string_view text, std::string_view marker);

// Every occurrence of what replaced by with, found left to right without overlap.
std::string replaceAll(std::string_view text, std::string_view what, std::string_view with);

// Only the first occurrence of what replaced by with.
std::string replaceFirst(std::string_view text, std::string_view what, std::string_view with);

// text from its p-th character on. A position before the start cannot be taken: the text is
// then left whole. A position past the end gives "".
std::string fromPosition(std::string_view text, long long p);

// The first m characters of text (all of it when shorter).
std::string firstChars(std::string_view text, std::size_t m);

// text without leading and trailing space characters (only " ", not other blanks).
std::string trimSpaces(std::string_view text);

// Runs one statement that computes a value with the field helpers. When a walk overflows the
// 16-bit positions the statement is skipped and target keeps its previous value.
template <typename Compute>
void assignField(std::string& target, Compute compute) {
    try {
        target = compute();
    } catch (const TextPositionOverflow&) {
    }
}

}  // namespace velnoria
