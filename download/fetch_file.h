#pragma once

#include <filesystem>
#include <string_view>

#include "download/job_context.h"

namespace velnoria {

// Downloads target.url into the save folder under target.name (made safe first): up to three
// attempts, each logged in the status window, the address appended to "failed.txt" in the work
// folder after the third failure. Throws JobStopped when it meets a stop request before a piece
// of the file.
void fetchFile(JobContext& job, const DownloadTarget& target);

// True when a header block holds one of the two texts that mark a failed answer.
bool holdsErrorMarker(std::string_view headerBlock);

// Appends url and CR LF to "failed.txt" in folder, opened and closed for this one line.
// False when the line could not be written.
bool appendToFailureLog(const std::filesystem::path& folder, std::string_view url);

}  // namespace velnoria
