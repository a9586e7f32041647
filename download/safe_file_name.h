#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace velnoria {

// The longest file name Linux file systems take, in bytes.
inline constexpr std::size_t kLongestFileName = 255;
// The room a shortened name leaves for the number " (N)" a later file of its name gets: " (32767)",
// the most files one job saves.
inline constexpr std::size_t kNumberRoom = 8;
// A longer "extension" is a part of the name after a dot, and is not kept whole when the name
// must be shortened.
inline constexpr std::size_t kLongestKeptExtension = 16;

// The longest file name the folder's file system takes (pathconf), kLongestFileName when it
// cannot tell.
std::size_t longestFileName(const std::filesystem::path& folder);

struct SafeName {
    std::string name;        // "" when no file may be written under the given name
    bool shortened = false;  // cut to fit the longest name
};

// The file name under which a download may be saved: only what follows the last "/" or "\" of
// the given name. "", ".", "..", and names holding a control character (C0, DEL or C1, a NUL
// included) or bytes that are not UTF-8 give "", which no file is ever written under. A name
// longer than `longest` less the room for a number is cut to that length on a character's
// boundary, its extension (from its last ".", at most kLongestKeptExtension bytes) kept. A name
// that begins with "." gets "_" in its place, so no hidden file is planted; the names of the
// program's own files ("settings.dat", "failed.txt", "choices.conf", "archive.sqlite" and the
// files SQLite keeps beside it, letter case ignored) get "_" before them.
SafeName safeName(std::string_view name, std::size_t longest = kLongestFileName);
// The same, the name alone.
std::string safeFileName(std::string_view name, std::size_t longest = kLongestFileName);

// name itself when it is not taken, else name with " (2)", " (3)" ... before its extension (the
// part from its last ".", unless that is its first character), the first such name not taken.
// A number that would make the name longer than `longest` cuts the part before it.
std::string unusedName(const std::string& name,
                       const std::function<bool(const std::string&)>& taken,
                       std::size_t longest = kLongestFileName);

}  // namespace velnoria
