#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "download/dry_run.h"
#include "download/job_context.h"
#include "download/rules/file_rule.h"

namespace velnoria {

struct JobResult {
    bool started = false;  // false when a job was already running or the save folder is unusable
    std::string saveFolderProblem;  // why no file can be made in the save folder; "" when one can
    int finishedCount = 0;          // files that ended "OK"
    int failuresLogged = 0;         // addresses this job wrote to "failed.txt"
    int alreadySaved = 0;           // files found saved whole already
    bool stopped = false;           // ended by Stop/Abort
    std::size_t addressesDone = 0;  // of a retry: how many of its addresses were handled whole
};

// What a job does beyond the built-in table; the defaults give exactly the job of the table.
struct JobOptions {
    // The good rules of a rules file, tried before the table; none (or empty): the table alone.
    std::shared_ptr<const RuleSet> fileRules;
    // An image that no rule takes, inside a link to an image file, saves the linked file.
    bool linkedImages = false;
    // Makes the addresses the file rules find absolute (the front end's address parser).
    AddressResolver resolveAddress;
    // Set: a dry run. Each image's target (or why there is none) is reported here instead of
    // being downloaded; no status window, no final message, nothing written.
    TargetReporter dryRun;
};

// "Start Download": the whole job, run synchronously; returns once the job has ended. The job
// yields to the event loop only while it waits for the network (inside the per-file download and
// the ImageBam header request); the front end's handlers, Pause and Stop/Abort among them, run
// nested there. A save folder in which no file can be made is said in an "Error" box, and no job
// starts.
JobResult runDownloadJob(ProgramState& program, JobServices& services,
                         const std::string& addressBoxText, const JobOptions& options = {});

// The job once more on addresses that failed before ("failed.txt"), instead of a page's images:
// an address whose rule (of the rules file, or else of the table) hands something to the
// download goes through its rule (a thumbnail whose service page failed), any other is
// downloaded as it stands, named by its last "/" field. The options' dry run and linked images
// do not apply: there is no page.
JobResult runRetryJob(ProgramState& program, JobServices& services,
                      const std::vector<std::string>& addresses, const JobOptions& options = {});

}  // namespace velnoria
