#pragma once

#include <string>
#include <string_view>

#include "download/job_context.h"

namespace velnoria {

// Steps most host rules share.

// TargetUrl = url, TargetName = the last "/" field of url, then the download.
void fetchNamedByLastField(JobContext& job, std::string url);

// TargetName = the last "/" field of the given address (skipped when it overflows).
void setNameFromLastField(JobContext& job, std::string_view address);

}  // namespace velnoria
