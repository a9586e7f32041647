// The download job from start to end: set-up, the harvest of the page's images, the walk over
// them with the host registry, and the final message.
#include "download/download_job.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <optional>
#include <vector>

#include "core/temporary_file.h"
#include "core/text.h"
#include "download/host_registry.h"
#include "download/rule_runner.h"

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

// The thumb list, and beside it the link around each image when a rule or the linked images
// need them ("" for an image outside any link).
struct Harvest {
    std::vector<std::string> thumbList = std::vector<std::string>(kThumbListSize);
    std::vector<std::string> links;
};

Harvest harvestImages(BrowserDocument& document, bool withLinks) {
    Harvest harvest;
    try {
        std::vector<std::string> sources;
        if (withLinks) {
            std::vector<ImageInLink> images = document.imagesWithLinks();
            harvest.links.resize(kThumbListSize);
            for (std::size_t i = 0; i < images.size() && i < kThumbListSize; ++i) {
                sources.push_back(std::move(images[i].source));
                harvest.links[i] = std::move(images[i].link);
            }
        } else {
            sources = document.imageSources();
        }
        const auto count = std::min<std::size_t>(sources.size(), kThumbListSize);
        std::move(sources.begin(), sources.begin() + static_cast<std::ptrdiff_t>(count),
                  harvest.thumbList.begin());
    } catch (const std::exception&) {
        // An unreadable document leaves the list empty: nothing matches, nothing is downloaded.
    }
    return harvest;
}

// Why an image gave a dry run no target, when its rule said nothing itself.
std::string declineReason(const HostChoice& choice) {
    if (choice.fileRule.rule != nullptr)
        return "rule \"" + choice.fileRule.rule->name + "\" gave nothing";
    if (choice.slot == nullptr) return "no rule takes this address";
    if (choice.slot->rule == nullptr) return "the empty slot takes this address and does nothing";
    return "the " + std::string(choice.slot->service) + " rule found no full-size image";
}

// Visits the thumb list's entries 1 to 3000 in order: a rule of the rules file or else the slot
// that takes an entry runs its rule on it; an entry nothing takes may save the image it links to.
// Ends early when a rule ends the walk; JobStopped passes through.
void walkThumbList(JobContext& job, const HostRegistry& registry, const Harvest& harvest,
                   bool linkedImages) {
    static const std::string kNoLink;
    for (int i = 1; i <= kThumbListSize && !job.walkEnded; ++i) {
        const auto index = static_cast<std::size_t>(i - 1);
        const std::string& entry = job.thumbList[index];
        const std::string& link = index < harvest.links.size() ? harvest.links[index] : kNoLink;
        // A dry run reports the images of the page, not the empty rest of the list.
        if (job.dryRun != nullptr && entry.empty()) continue;

        const HostChoice choice = registry.choose(entry, link);
        if (job.dryRun != nullptr) job.dryRun->beginImage(entry);
        job.entry = entry;
        try {
            if (choice.fileRule.rule != nullptr) {
                runFileRule(job, choice.fileRule, entry);
            } else if (choice.slot != nullptr) {
                if (choice.slot->rule != nullptr) choice.slot->rule(job, entry);
            } else if (linkedImages && isImageAddress(link)) {
                fetchLinkedImage(job, link);
            }
        } catch (const std::exception&) {
            // A failing step ends this rule only; the walk goes on with the next entry.
        }
        if (job.dryRun != nullptr) job.dryRun->endImage(declineReason(choice));
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
                         const std::string& addressBoxText, const JobOptions& options) {
    JobResult result;
    // The button can be enabled again by navigation while a job yields: one job at a time.
    if (program.jobRunning) return result;
    // Checked once, so that a folder that cannot take a file is said at once and why, instead of
    // every file failing three times. A dry run saves nothing, so it neither needs nor tries one.
    if (!options.dryRun) result.saveFolderProblem = saveFolderProblem(program.settings.savePath);
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
    job.resolveAddress = options.resolveAddress;
    std::optional<DryRun> dryRun;
    if (options.dryRun) job.dryRun = &dryRun.emplace(options.dryRun);

    if (job.dryRun == nullptr) services.status.open();
    const HostRegistry registry(options.fileRules);
    job.pageAddress = std::string(trim(addressBoxText, " "));
    Harvest harvest =
        harvestImages(services.document, options.linkedImages || registry.needsLinks());
    job.thumbList = std::move(harvest.thumbList);

    try {
        walkThumbList(job, registry, harvest, options.linkedImages);
    } catch (const JobStopped&) {
        result.stopped = true;
    }
    if (job.dryRun == nullptr) finishJob(job);

    result.finishedCount = job.finishedCount;
    result.failuresLogged = job.failuresLogged;
    return result;
}

}  // namespace velnoria
