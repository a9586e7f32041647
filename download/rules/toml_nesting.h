#pragma once

#include <string_view>
#include <vector>

namespace velnoria {

// The TOML library builds a table for every part of a dotted key or table header, and reads and
// frees nested tables and arrays recursively: 35,000 parts in a 70 KB line overflow the stack.
// So a rules file is measured before the library sees it. A rules file needs five levels.
inline constexpr int kMaxTomlNesting = 32;

// A place in a text as the TOML library counts it: lines from 1, columns in characters from 1.
struct TomlPlace {
    int line = 1;
    int column = 1;
};

// Where the text nests more than maxDepth levels deep: the place of the part, bracket or brace
// that passes the bound, once per statement (a table header, or a key with its value). A level is
// a part of a table header (one more for [[...]]), of a dotted key, and an array or inline table;
// those of the header count for the keys below it. Strings and comments are passed over as TOML
// reads them; the text need not be valid TOML. One pass, no recursion.
std::vector<TomlPlace> findDeepNesting(std::string_view text, int maxDepth = kMaxTomlNesting);

}  // namespace velnoria
