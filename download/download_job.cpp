#include "download/download_job.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "download/finish_job.h"
#include "download/job_context.h"
#include "download/job_walk.h"
#include "download/text_ops.h"

namespace velnoria {

namespace {

// Clears the running flag however the job is left.
class RunningFlag {
  public:
    explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunningFlag() { flag_ = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;

  private:
    bool& flag_;
};

std::vector<std::string> harvestImages(BrowserDocument& document) {
    std::vector<std::string> thumbList(kThumbListSize);
    try {
        std::vector<std::string> sources = document.imageSources();
        const auto count = std::min<std::size_t>(sources.size(), kThumbListSize);
        std::move(sources.begin(), sources.begin() + static_cast<std::ptrdiff_t>(count),
                  thumbList.begin());
    } catch (const std::exception&) {
        // An unreadable document leaves the list empty: nothing matches, nothing is downloaded.
    }
    return thumbList;
}

}  // namespace

JobResult runDownloadJob(ProgramState& program, JobServices& services,
                         const std::string& addressBoxText) {
    JobResult result;
    // The button can be enabled again by navigation while a job yields: one job at a time.
    if (program.jobRunning) return result;
    RunningFlag running(program.jobRunning);
    result.started = true;
    // A stop request left over from an earlier job must not end this one.
    program.runState = kRunning;

    JobContext job(program, services);
    services.status.open();
    job.hostTable = makeHostTable();
    job.pageAddress = trimSpaces(addressBoxText);
    job.thumbList = harvestImages(services.document);

    try {
        walkThumbList(job);
    } catch (const JobStopped&) {
        result.stopped = true;
    }
    finishJob(job);

    result.finishedCount = job.finishedCount;
    result.failuresLogged = job.failuresLogged;
    return result;
}

}  // namespace velnoria
