#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "download/job_context.h"

namespace velnoria {

struct JobResult {
    bool started = false;           // false when a job was already running
    int finishedCount = 0;          // files that ended "OK"
    int failuresLogged = 0;         // addresses this job wrote to "failed.txt"
    int alreadySaved = 0;           // files found saved whole already
    bool stopped = false;           // ended by Stop/Abort
    std::size_t addressesDone = 0;  // of a retry: how many of its addresses were handled whole
};

// "Start Download": the whole job, run synchronously; returns once the job has ended. The job
// yields to the event loop only while it waits for the network (inside the per-file download and
// the ImageBam header request); the front end's handlers, Pause and Stop/Abort among them, run
// nested there.
JobResult runDownloadJob(ProgramState& program, JobServices& services,
                         const std::string& addressBoxText);

// The job once more on addresses that failed before ("failed.txt"), instead of a page's images:
// an address whose rule hands something to the download goes through its rule (a thumbnail whose
// service page failed), any other is downloaded as it stands, named by its last "/" field.
JobResult runRetryJob(ProgramState& program, JobServices& services,
                      const std::vector<std::string>& addresses);

}  // namespace velnoria
