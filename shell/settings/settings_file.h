#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "download/settings.h"

namespace velnoria {

// "settings.dat" is a handful of bytes; reading stops here so a huge or binary file cannot eat
// memory.
inline constexpr std::size_t kSettingsReadLimit = 64 * 1024;

// The file's bytes: the save path, then the time-out and the piece size, each number with one
// blank before it (the minus sign in its place when negative) and one after, every line ended
// by CR LF.
std::string settingsFileText(const Settings& settings);

// The three values from the file's text. The first line is the save path whole (leading blanks
// skipped, commas ordinary); the next two lines hold one number each. A value that is missing,
// unreadable or out of range falls back to its default on its own. cutShort tells that the text
// is only the beginning of a longer file, so its unfinished last line does not count.
Settings parseSettingsText(std::string_view text, bool cutShort = false);

// Reads the file; nullopt when it is not a regular file or cannot be opened.
std::optional<Settings> readSettingsFile(const std::filesystem::path& file);

// Replaces the file with the three values; false when it could not be written whole.
bool writeSettingsFile(const std::filesystem::path& file, const Settings& settings);

}  // namespace velnoria
