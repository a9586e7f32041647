#pragma once

#include "download/job_context.h"

namespace velnoria {

// Downloads job.targetUrl into the save folder as job.targetName: up to three attempts, each
// logged in the status window, the address appended to "failed.txt" after the third failure.
// Throws JobStopped when it meets a stop request before a piece of the file.
void fetchFile(JobContext& job);

}  // namespace velnoria
