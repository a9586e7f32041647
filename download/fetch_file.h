#pragma once

#include <filesystem>
#include <string_view>

#include "download/job_context.h"

namespace velnoria {

// Downloads target.url into the save folder under target.name (made safe first, and given a
// number when this job saved another address under it): up to three attempts, each logged in the
// status window with the reason of a failure, the address appended to "failed.txt" in the work
// folder after the third failure. An address that is not http(s) is not asked for: it fails once
// and the thumbnail's address is logged. Throws JobStopped when it meets a stop request.
void fetchFile(JobContext& job, const DownloadTarget& target);

// Waits, yielding, until the transfer control's request has its answer's headers or has failed.
// A stop request ends the wait at once: the request is cancelled and JobStopped thrown.
void waitForAnswer(JobContext& job);

// After a blocking download that a stop request ended: yields once, so that the front end hands
// the request over, and honours it (JobStopped). Returns when there is none after all.
void stopAfterInterruption(JobContext& job);

// True when a header block holds one of the two texts that mark a failed answer.
bool holdsErrorMarker(std::string_view headerBlock);

// An address of this job given up on: appended to "failed.txt" in the work folder and counted.
void logFailedAddress(JobContext& job, std::string_view url);

}  // namespace velnoria
