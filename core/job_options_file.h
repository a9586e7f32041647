#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/job_options.h"

namespace velnoria {

// The desktop program keeps its job options in "choices.conf" beside "settings.dat", so that
// "settings.dat" keeps its three lines: one "key = value" a line, "#" lines and blank lines are
// comments. Keys it does not know (other choices, a newer program's) are kept as they stand.
inline constexpr const char* kChoicesFile = "choices.conf";
inline constexpr std::string_view kFollowNextPagesKey = "follow-next-pages";
inline constexpr std::string_view kSkipExistingKey = "skip-existing";
inline constexpr std::string_view kDownloadsAtOnceKey = "downloads-at-once";

// The job options a file's text sets; a key missing or unreadable leaves its default, the last
// of a repeated key counts.
JobOptions parseJobOptions(std::string_view text);

// The file's text with the three keys set to the options: lines of the same key replaced (the
// first in place, later ones dropped), missing keys added at the end, every other line kept.
std::string withJobOptions(std::string_view text, const JobOptions& options);

// Reads the options from the file; the defaults when it is missing or cannot be read.
JobOptions readJobOptions(const std::filesystem::path& file);

// Writes them into the file through a new file renamed over it, keeping its other lines. False
// when it could not be written.
bool writeJobOptions(const std::filesystem::path& file, const JobOptions& options);

}  // namespace velnoria
