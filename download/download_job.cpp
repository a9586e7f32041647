// The download job from start to end: set-up, the harvest of the page's images, the walk over
// them with the host registry, and the final message.
#include "download/download_job.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "core/text.h"
#include "download/host_registry.h"

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

// Visits the thumb list's entries 1 to 3000 in order; the slot that takes an entry runs its rule
// on it. Ends early when a rule ends the walk; JobStopped passes through.
void walkThumbList(JobContext& job, const HostRegistry& registry) {
    for (int i = 1; i <= kThumbListSize && !job.walkEnded; ++i) {
        const std::string& entry = job.thumbList[static_cast<std::size_t>(i - 1)];
        const HostSlot* slot = registry.slotFor(entry);
        if (slot == nullptr || slot->rule == nullptr) continue;
        try {
            slot->rule(job, entry);
        } catch (const std::exception&) {
            // A failing step ends this rule only; the walk goes on with the next entry.
        }
    }
}

// The final message, the save folder opened when something was downloaded, the status window
// closed.
void finishJob(JobContext& job) {
    JobServices& services = job.services;
    if (job.finishedCount > 0) {
        services.messageBox.show(
            "Finish",
            "Task finished !\r\n " + std::to_string(job.finishedCount) + " file(s) downloaded.",
            MessageIcon::None);
        services.shell.openFolder(job.program.settings.savePath);
    } else {
        services.messageBox.show("Finish", "Task finished !\r\nNo file downloaded.",
                                 MessageIcon::None);
    }
    services.status.close();
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
    const HostRegistry registry;
    job.pageAddress = std::string(trim(addressBoxText, " "));
    job.thumbList = harvestImages(services.document);

    try {
        walkThumbList(job, registry);
    } catch (const JobStopped&) {
        result.stopped = true;
    }
    finishJob(job);

    result.finishedCount = job.finishedCount;
    result.failuresLogged = job.failuresLogged;
    return result;
}

}  // namespace velnoria
