#pragma once

#include <filesystem>
#include <string_view>

#include "download/job_context.h"

namespace velnoria {

// What every rule calls with a target it found: hands it to the job's downloads (or to a dry
// run). One at a time it returns once the file has ended; at once it returns as soon as the file
// is queued. A target without a referring page comes from the page in hand. Throws JobStopped on
// a stop request.
void fetchFile(JobContext& job, DownloadTarget target);

// An address of this job given up on: appended to "failed.txt" in the work folder and counted,
// and kept with the tag of what it was for (the current one when none is given).
void logFailedAddress(JobContext& job, std::string_view url);
void logFailedAddress(JobContext& job, std::string_view url, std::size_t tag);

}  // namespace velnoria
