#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace velnoria {

// A small file of the user's (the choices, a rules file, a cookies file), read whole within a
// bound.
struct SmallFile {
    std::string text;     // its bytes; with tooLong, its start (keepStart) or nothing
    std::string problem;  // "" when read; else "cannot be read: REASON" or "is not a file"
    bool tooLong = false;
    std::uint64_t sizeAtOpen = 0;  // its length when it was opened
};

// Reads a regular file to its end, at most `limit` + 1 bytes: it may grow while it is read. A
// file longer than limit when opened is not read at all unless keepStart asks for its start. A
// named pipe or other special file of that name never holds the caller up.
SmallFile readSmallFile(const std::filesystem::path& file, std::size_t limit,
                        bool keepStart = false);

}  // namespace velnoria
