#pragma once

#include <string>

#include "download/job_context.h"

namespace velnoria {

struct JobResult {
    bool started = false;  // false when a job was already running or the save folder is unusable
    std::string saveFolderProblem;  // why no file can be made in the save folder; "" when one can
    int finishedCount = 0;          // files that ended "OK"
    int failuresLogged = 0;         // addresses this job wrote to "failed.txt"
    bool stopped = false;           // ended by Stop/Abort
};

// "Start Download": the whole job, run synchronously; returns once the job has ended. The job
// yields to the event loop only while it waits for the network (inside the per-file download and
// the ImageBam header request); the front end's handlers, Pause and Stop/Abort among them, run
// nested there. A save folder in which no file can be made is said in an "Error" box, and no job
// starts.
JobResult runDownloadJob(ProgramState& program, JobServices& services,
                         const std::string& addressBoxText);

}  // namespace velnoria
