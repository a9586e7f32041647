// The download job from start to end: set-up, the harvest of the page's images, the walk over
// them with the host registry, and the final message.
#include "download/download_job.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <optional>
#include <vector>

#include "core/save_folder.h"
#include "core/text.h"
#include "download/fetch_file.h"
#include "download/host_registry.h"
#include "download/next_pages.h"
#include "download/parallel_downloads.h"
#include "download/rule_runner.h"
#include "download/rules/rule_text.h"

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
    job.walkEnded = false;
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

std::string nextPageRefusal(NextPages::Verdict verdict, const NextPages& pages) {
    switch (verdict) {
        case NextPages::Verdict::NotWeb:
            return "not a web address";
        case NextPages::Verdict::OtherHost:
            return "on another host";
        case NextPages::Verdict::ReadBefore:
            return "read before in this job";
        case NextPages::Verdict::LimitReached:
            return "the limit of " + std::to_string(pages.maxPages()) + " pages is reached";
        case NextPages::Verdict::Follow:
            break;
    }
    return {};
}

// A stop request met between two pages ends the job as one met before a piece does.
void honourStopBetweenPages(JobContext& job) {
    if (job.program.runState != kStopRequested) return;
    job.program.runState = kRunning;
    throw JobStopped{};
}

// After the walk of each page, the page it names as the next one, for as long as there is one
// that may be read. JobStopped passes through.
void walkNextPages(JobContext& job, const HostRegistry& registry, const JobOptions& options,
                   BrowserDocument* document) {
    PageReader* reader = job.services.pageReader;
    if (!job.program.choices.followNextPages || reader == nullptr) return;
    std::string firstFoundAt;
    try {
        firstFoundAt = document->documentAddress();
    } catch (const std::exception&) {
        // Then only the address box tells where the thread is.
    }
    NextPages pages(job.pageAddress, firstFoundAt, job.program.maxPages);
    StatusWindow& status = job.services.status;
    for (;;) {
        honourStopBetweenPages(job);
        std::string next;
        try {
            next = document->nextPageAddress();
        } catch (const std::exception&) {
            // An unreadable document names no next page.
        }
        if (next.empty()) return;
        const NextPages::Verdict verdict = pages.judge(next);
        if (verdict != NextPages::Verdict::Follow) {
            status.appendLog("Next page not read (" + nextPageRefusal(verdict, pages) +
                             "): " + oneLine(next) + "\r\n");
            return;
        }
        status.appendLog("Reading page " + std::to_string(pages.pagesRead() + 1) + ": " +
                         oneLine(next) + "\r\n");
        std::string foundAt;
        std::string error;
        document = reader->read(next, foundAt, error);
        pages.read(next, foundAt);
        honourStopBetweenPages(job);
        if (document == nullptr) {
            status.appendLog("Page cannot be read: " + oneLine(next) + " (" + oneLine(error) +
                             ")\r\n");
            return;
        }
        job.pageAddress = foundAt.empty() ? next : foundAt;
        Harvest harvest = harvestImages(*document, options.linkedImages || registry.needsLinks());
        job.thumbList = std::move(harvest.thumbList);
        walkThumbList(job, registry, harvest, options.linkedImages);
    }
}

// The job's surroundings, with every wait driving the downloads at once when the options ask
// for them and the front end has a pool for them.
class Surroundings {
  public:
    // A dry run downloads nothing, so it has no downloads at once.
    Surroundings(ProgramState& program, JobServices& services, bool dryRun)
        : parallel_(program.choices.downloadsAtOnce > 1 && services.transferPool != nullptr &&
                    !dryRun),
          pumping_(services.eventLoop),
          services_{services.transfer,
                    services.urlDownload,
                    services.urlCache,
                    parallel_ ? static_cast<EventLoop&>(pumping_) : services.eventLoop,
                    services.status,
                    services.document,
                    services.messageBox,
                    services.shell,
                    services.pageReader,
                    services.transferPool},
          job_(program, services_) {
        if (!parallel_) return;
        downloads_.emplace(job_, *services.transferPool, program.choices.downloadsAtOnce);
        pumping_.attach(&*downloads_);
        job_.parallel = &*downloads_;
    }

    JobContext& job() { return job_; }
    // Waits for every download to end; a no-op for one file at a time. Throws JobStopped.
    void finishDownloads() {
        if (downloads_) downloads_->finish();
    }
    std::size_t lowestOpenTag() const {
        return downloads_ ? downloads_->lowestOpenTag() : std::numeric_limits<std::size_t>::max();
    }

  private:
    bool parallel_;
    PumpingEventLoop pumping_;
    JobServices services_;
    JobContext job_;
    std::optional<ParallelDownloads> downloads_;
};

// The final message, the save folder opened when something was downloaded, the status window
// closed.
void finishJob(JobContext& job) {
    JobServices& services = job.services;
    // Files skipped as saved already are counted apart, only when there are any.
    const std::string alreadySaved =
        job.alreadySaved > 0 ? " " + std::to_string(job.alreadySaved) + " file(s) already saved."
                             : "";
    if (job.finishedCount > 0) {
        services.messageBox.show("Finish",
                                 "Task finished !\r\n " + std::to_string(job.finishedCount) +
                                     " file(s) downloaded." + alreadySaved,
                                 MessageIcon::None);
        services.shell.openFolder(job.program.settings.savePath);
    } else {
        services.messageBox.show("Finish", "Task finished !\r\nNo file downloaded." + alreadySaved,
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
            "Error", saveFolderProblemText(program.settings.savePath, result.saveFolderProblem),
            MessageIcon::Critical);
        return result;
    }
    RunningFlag running(program.jobRunning);
    result.started = true;
    // A stop request left over from an earlier job must not end this one.
    program.runState = kRunning;
    const StopEndsWaits stopEndsWaits(services, program.runState);

    Surroundings surroundings(program, services, static_cast<bool>(options.dryRun));
    JobContext& job = surroundings.job();
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
        walkNextPages(job, registry, options, &services.document);
        surroundings.finishDownloads();
    } catch (const JobStopped&) {
        result.stopped = true;
    }
    if (job.dryRun == nullptr) finishJob(job);

    result.finishedCount = job.finishedCount;
    result.failuresLogged = job.failuresLogged;
    result.alreadySaved = job.alreadySaved;
    return result;
}

JobResult runRetryJob(ProgramState& program, JobServices& services,
                      const std::vector<std::string>& addresses, const JobOptions& options) {
    JobResult result;
    if (program.jobRunning) return result;
    RunningFlag running(program.jobRunning);
    result.started = true;
    program.runState = kRunning;

    Surroundings surroundings(program, services, false);
    JobContext& job = surroundings.job();
    job.resolveAddress = options.resolveAddress;
    services.status.open();
    const HostRegistry registry(options.fileRules);
    try {
        for (const std::string& address : addresses) {
            job.currentTag = result.addressesDone;
            const int handled = job.filesHanded + job.failuresLogged;
            // Outside any link: failed.txt keeps no link.
            const HostChoice choice = registry.choose(address, "");
            if (choice.fileRule.rule != nullptr ||
                (choice.slot != nullptr && choice.slot->rule != nullptr)) {
                try {
                    if (choice.fileRule.rule != nullptr) {
                        runFileRule(job, choice.fileRule, address);
                    } else {
                        choice.slot->rule(job, address);
                    }
                } catch (const std::exception&) {
                    // As in the walk: a failing step ends this rule only.
                }
                job.walkEnded = false;  // there is no walk to end
            }
            if (job.filesHanded + job.failuresLogged == handled) {
                DownloadTarget target{address, {}};
                assignField(target.name, [&] { return lastField(address, "/"); });
                fetchFile(job, target);
            }
            ++result.addressesDone;
        }
        surroundings.finishDownloads();
    } catch (const JobStopped&) {
        result.stopped = true;
        // Downloads at once: an address is done only when every file of it has ended.
        result.addressesDone = std::min(result.addressesDone, surroundings.lowestOpenTag());
    }
    finishJob(job);

    result.finishedCount = job.finishedCount;
    result.failuresLogged = job.failuresLogged;
    result.alreadySaved = job.alreadySaved;
    return result;
}

}  // namespace velnoria
