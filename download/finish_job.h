#pragma once

#include "download/job_context.h"

namespace velnoria {

// The end of every job: the final message, the save folder opened when something was
// downloaded, the status window closed.
void finishJob(JobContext& job);

}  // namespace velnoria
