// The download job from start to end: set-up, the harvest of the page's images, the walk over
// them with the host registry, and the final message.
#include "download/download_job.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <optional>
#include <vector>

#include "core/text.h"
#include "download/fetch_file.h"
#include "download/host_registry.h"
#include "download/next_pages.h"
#include "download/parallel_downloads.h"
#include "download/rule_text.h"

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
    job.walkEnded = false;
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
void walkNextPages(JobContext& job, const HostRegistry& registry, BrowserDocument* document) {
    PageReader* reader = job.services.pageReader;
    if (!job.program.options.allPages || reader == nullptr) return;
    std::string firstFoundAt;
    try {
        firstFoundAt = document->documentAddress();
    } catch (const std::exception&) {
        // Then only the address box tells where the thread is.
    }
    NextPages pages(job.pageAddress, firstFoundAt, job.program.options.maxPages);
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
        job.thumbList = harvestImages(*document);
        walkThumbList(job, registry);
    }
}

// The job's surroundings, with every wait driving the downloads at once when the options ask
// for them and the front end has a pool for them.
class Surroundings {
  public:
    Surroundings(ProgramState& program, JobServices& services)
        : parallel_(program.options.parallel > 1 && services.transferPool != nullptr),
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
        downloads_.emplace(job_, *services.transferPool, program.options.parallel);
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
                         const std::string& addressBoxText) {
    JobResult result;
    // The button can be enabled again by navigation while a job yields: one job at a time.
    if (program.jobRunning) return result;
    RunningFlag running(program.jobRunning);
    result.started = true;
    // A stop request left over from an earlier job must not end this one.
    program.runState = kRunning;

    Surroundings surroundings(program, services);
    JobContext& job = surroundings.job();
    services.status.open();
    const HostRegistry registry;
    job.pageAddress = std::string(trim(addressBoxText, " "));
    job.thumbList = harvestImages(services.document);

    try {
        walkThumbList(job, registry);
        walkNextPages(job, registry, &services.document);
        surroundings.finishDownloads();
    } catch (const JobStopped&) {
        result.stopped = true;
    }
    finishJob(job);

    result.finishedCount = job.finishedCount;
    result.failuresLogged = job.failuresLogged;
    result.alreadySaved = job.alreadySaved;
    return result;
}

JobResult runRetryJob(ProgramState& program, JobServices& services,
                      const std::vector<std::string>& addresses) {
    JobResult result;
    if (program.jobRunning) return result;
    RunningFlag running(program.jobRunning);
    result.started = true;
    program.runState = kRunning;

    Surroundings surroundings(program, services);
    JobContext& job = surroundings.job();
    services.status.open();
    const HostRegistry registry;
    try {
        for (const std::string& address : addresses) {
            job.currentTag = result.addressesDone;
            const int handled = job.filesHanded + job.failuresLogged;
            const HostSlot* slot = registry.slotFor(address);
            if (slot != nullptr && slot->rule != nullptr) {
                try {
                    slot->rule(job, address);
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
