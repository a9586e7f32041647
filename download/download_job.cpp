// The download job from start to end: set-up, the harvest of the page's images, the walk over
// them with the host registry, and the final message.
#include "download/download_job.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <vector>

#include "core/temporary_file.h"
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

// While the job runs, and only then, Stop/Abort ends the wait in hand at once: the transfer
// control's, and a blocking download's when the front end can tell of a stop without a yield.
class StopEndsWaits {
  public:
    StopEndsWaits(JobServices& services, const std::uint8_t& runState) : services_(services) {
        services_.transfer.setInterruption([&runState] { return runState == kStopRequested; });
        services_.urlDownload.setInterruption([&runState, &loop = services_.eventLoop] {
            return runState == kStopRequested || loop.stopPending();
        });
    }
    ~StopEndsWaits() {
        services_.transfer.setInterruption({});
        services_.urlDownload.setInterruption({});
    }
    StopEndsWaits(const StopEndsWaits&) = delete;
    StopEndsWaits& operator=(const StopEndsWaits&) = delete;

  private:
    JobServices& services_;
};

// Why no file can be saved in folder ("" when one can), found by making one there: missing,
// not a folder, not writable, or full.
std::string saveFolderProblem(const std::string& folder) {
    if (folder.empty()) return "no folder given";
    TemporaryFile probe(folder, "velnoria-", ".part", 0666);
    if (!probe.valid()) return std::strerror(probe.error());
    // A full file system still lets a file be made, but not a byte be stored in it.
    if (const int error = ::posix_fallocate(probe.fd(), 0, 1); error != 0 && error != EOPNOTSUPP) {
        return std::strerror(error);
    }
    return {};
}

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
        job.entry = entry;
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
    // Checked once, so that a folder that cannot take a file is said at once and why, instead of
    // every file failing three times.
    result.saveFolderProblem = saveFolderProblem(program.settings.savePath);
    if (!result.saveFolderProblem.empty()) {
        services.messageBox.show(
            "Error",
            "Cannot save files in " + program.settings.savePath + ": " + result.saveFolderProblem,
            MessageIcon::Critical);
        return result;
    }
    RunningFlag running(program.jobRunning);
    result.started = true;
    // A stop request left over from an earlier job must not end this one.
    program.runState = kRunning;
    const StopEndsWaits stopEndsWaits(services, program.runState);

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
