#pragma once

#include "download/job_context.h"

namespace velnoria {

// Visits ThumbList entries 1 to 3000 in order; for each, the first slot whose key occurs in the
// entry takes it and runs its rule (even when the rule then declines). Ends early when a rule
// ends the walk; JobStopped passes through.
void walkThumbList(JobContext& job);

}  // namespace velnoria
