// The download job from start to end: set-up, the page in hand, the walk over its images with the
// host registry (pages of the next images asked for ahead when files download at once), the
// thread's next pages, and the final message.
#include "download/download_job.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <limits>
#include <optional>
#include <set>
#include <vector>

#include "core/save_folder.h"
#include "core/text.h"
#include "download/archive.h"
#include "download/download_queue.h"
#include "download/fetch_file.h"
#include "download/file_download.h"
#include "download/host_registry.h"
#include "download/name_templates.h"
#include "download/next_pages.h"
#include "download/page_reads.h"
#include "download/rule_runner.h"
#include "download/rules/rule_text.h"
#include "download/safe_file_name.h"
#include "download/transfer_slots.h"

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

// How far ahead of the walk pages are asked for, in thumb list entries.
constexpr int kLookAheadEntries = 64;

// Says an unusable save folder in an "Error" box; true when the job may go on.
bool saveFolderIsUsable(ProgramState& program, JobServices& services, JobResult& result) {
    result.saveFolderProblem = saveFolderProblem(program.settings.savePath);
    if (result.saveFolderProblem.empty()) return true;
    services.messageBox.show(
        "Error", saveFolderProblemText(program.settings.savePath, result.saveFolderProblem),
        MessageIcon::Critical);
    return false;
}

// Why an image gave a dry run no target, when its rule said nothing itself.
std::string declineReason(const HostChoice& choice) {
    if (choice.fileRule.rule != nullptr)
        return "rule \"" + choice.fileRule.rule->name + "\" gave nothing";
    if (choice.slot == nullptr) return "no rule takes this address";
    if (choice.slot->rule == nullptr) return "the empty slot takes this address and does nothing";
    return "the " + std::string(choice.slot->service) + " rule found no full-size image";
}

// What the rule that took an address will read first, if anything.
std::optional<PagePlan> planFor(const JobContext& job, const HostChoice& choice,
                                const std::string& entry) {
    if (choice.fileRule.rule != nullptr) return planFileRule(job, choice.fileRule);
    if (choice.slot != nullptr && choice.slot->plan != nullptr)
        return choice.slot->plan(job, entry);
    return std::nullopt;
}

// What the archive keeps for an image: the link for a rule that takes links and for a linked
// image, else the image's address; "" when nothing takes it, or the rule that takes it reads the
// page's links rather than the image and ends the walk (each of its files is then kept by its
// own address, so new ones are still found).
std::string archiveEntryOf(const HostChoice& choice, const std::string& entry,
                           const std::string& link, bool linkedImages) {
    if (choice.fileRule.rule != nullptr) {
        return choice.fileRule.rule->subject == RuleSubject::Link ? choice.fileRule.subject : entry;
    }
    if (choice.slot != nullptr) return choice.slot->endsWalk ? std::string() : entry;
    if (linkedImages && isImageAddress(link)) return link;
    return {};
}

// An entry the archive holds is not asked for again, whatever became of its file since: said
// under the name it was saved as, and counted with the files saved already.
bool skipSavedEntry(JobContext& job) {
    if (job.archive == nullptr || job.archiveEntry.empty()) return false;
    const auto saved = job.archive->savedEntry(job.archiveEntry);
    if (!saved) return false;
    job.services.status.appendLog("Downloading file " + displayedName(saved->fileName) +
                                  "...ALREADY SAVED\r\n");
    ++job.counts.alreadySaved;
    return true;
}

// With downloads at once, the pages the rules of the next images will read are asked for while
// earlier files download, within the job's transfers. Rules still run one after the other in
// walk order, each taking its page when it comes to it.
class LookAhead {
  public:
    LookAhead(JobContext& job, const HostRegistry& registry, bool linkedImages)
        : job_(job), registry_(registry), linkedImages_(linkedImages) {}

    void newPage() {
        planned_ = 0;
        ended_ = false;
    }

    // The walk is at entry `index` (from 1): plans the entries after it, as far as there is room.
    void from(int index) {
        PageReads* pages = job_.pages;
        if (ended_ || pages == nullptr) return;
        for (int next = std::max(planned_, index) + 1;
             next <= kThumbListSize && next <= index + kLookAheadEntries; ++next) {
            if (!pages->hasRoomAhead()) return;
            planned_ = next;
            const auto at = static_cast<std::size_t>(next - 1);
            const std::string& entry = job_.page.thumbList[at];
            const HostChoice choice = registry_.choose(entry, job_.page.linkAround(at));
            // The images of the page have ended, or nothing after a rule that ends the walk is
            // looked at.
            if (entry.empty() || (choice.slot != nullptr && choice.slot->endsWalk)) {
                ended_ = true;
                return;
            }
            // What the archive holds is skipped unasked.
            if (job_.archive != nullptr) {
                const std::string saved =
                    archiveEntryOf(choice, entry, job_.page.linkAround(at), linkedImages_);
                if (!saved.empty() && job_.archive->hasEntry(saved)) continue;
            }
            try {
                if (auto plan = planFor(job_, choice, entry)) {
                    pages->prefetch(plan->first, std::move(plan->then));
                }
            } catch (const std::exception&) {
                // A plan that cannot be made: the rule reads its page when it comes to it.
            }
        }
    }

  private:
    JobContext& job_;
    const HostRegistry& registry_;
    bool linkedImages_;
    int planned_ = 0;
    bool ended_ = false;
};

// Visits the thumb list's entries 1 to 3000 in order: a rule of the rules file or else the slot
// that takes an entry runs its rule on it; an entry nothing takes may save the image it links to.
// Ends early when a rule ends the walk; JobStopped passes through.
void walkPage(JobContext& job, const HostRegistry& registry, bool linkedImages, LookAhead& ahead) {
    job.walkEnded = false;
    ahead.newPage();
    for (int i = 1; i <= kThumbListSize && !job.walkEnded; ++i) {
        const auto index = static_cast<std::size_t>(i - 1);
        const std::string& entry = job.page.thumbList[index];
        const std::string& link = job.page.linkAround(index);
        // A dry run reports the images of the page, not the empty rest of the list; an image
        // without an address of its own may still be inside a link that is downloaded.
        if (job.dryRun != nullptr && entry.empty() && link.empty()) continue;

        job.checkStop();
        const HostChoice choice = registry.choose(entry, link);
        if (job.dryRun != nullptr) job.dryRun->beginImage(entry.empty() ? link : entry);
        ahead.from(i);
        job.entry = entry;
        job.entryIndex = i;
        job.archiveEntry = archiveEntryOf(choice, entry, link, linkedImages);
        if (skipSavedEntry(job)) continue;
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

// Reads a page of the thread as page `number` and makes it the page in hand; false (said in the
// log, with why in error) when it cannot be read. JobStopped passes through.
bool readNextPage(JobContext& job, const HostRegistry& registry, const JobOptions& options,
                  NextPages& pages, const std::string& address, int number, std::string& error) {
    StatusWindow& status = job.services.status;
    status.appendLog("Reading page " + std::to_string(number) + ": " + oneLine(address) + "\r\n");
    std::string foundAt;
    BrowserDocument* document = job.services.pageReader->read(address, foundAt, error);
    pages.read(address, foundAt);
    // A stop the reader met (velnoria-get's Ctrl+C ends its wait) is taken over here, and a
    // page it cut short is not a page that failed.
    job.services.eventLoop.yieldOnce();
    job.checkStop();
    if (document == nullptr) {
        status.appendLog("Page cannot be read: " + oneLine(address) + " (" + oneLine(error) +
                         ")\r\n");
        if (error.empty()) error = "the page did not load";
        return false;
    }
    job.page = readPageInHand(*document, options.linkedImages || registry.needsLinks());
    job.page.number = number;
    job.page.address = foundAt.empty() ? address : foundAt;
    return true;
}

// After the walk of each page, the page it names as the next one, for as long as there is one
// that may be read. A thread the archive knows goes on from the last page read before: the
// pages in between are not read again. The files of the pages before go on downloading
// meanwhile. Returns why a next page could not be read ("" when none failed); JobStopped passes
// through.
std::string walkNextPages(JobContext& job, const HostRegistry& registry, const JobOptions& options,
                          LookAhead& ahead) {
    PageReader* reader = job.services.pageReader;
    if (!job.program.choices.followNextPages || reader == nullptr) return {};
    NextPages pages(job.page.address, job.page.foundAt, job.program.maxPages);
    StatusWindow& status = job.services.status;
    if (job.archive != nullptr) {
        const auto last = job.archive->lastPageRead(job.threadAddress);
        if (last && last->number > 1 && pages.judge(last->address) == NextPages::Verdict::Follow) {
            job.checkStop();
            std::string error;
            // A page that is gone leaves the thread to be followed from its first page.
            if (readNextPage(job, registry, options, pages, last->address, last->number, error)) {
                walkPage(job, registry, options.linkedImages, ahead);
            }
        }
    }
    for (;;) {
        job.checkStop();
        const std::string next = job.page.nextPage;
        if (next.empty()) return {};
        const NextPages::Verdict verdict = pages.judge(next);
        if (verdict != NextPages::Verdict::Follow) {
            status.appendLog("Next page not read (" + nextPageRefusal(verdict, pages) +
                             "): " + oneLine(next) + "\r\n");
            return {};
        }
        std::string error;
        if (!readNextPage(job, registry, options, pages, next, job.page.number + 1, error)) {
            return error;
        }
        walkPage(job, registry, options.linkedImages, ahead);
    }
}

}  // namespace

JobSurroundings::JobSurroundings(ProgramState& program, JobServices& services,
                                 HostRuleMemory& memory, DryRun* dryRun)
    : limit_(dryRun != nullptr
                 ? 1
                 : static_cast<std::size_t>(std::max(1, program.choices.downloadsAtOnce))),
      job_(program, services, memory),
      slots_(std::make_unique<TransferSlots>(services.engine, limit_)),
      queue_(std::make_unique<DownloadQueue>(job_, limit_)),
      pages_(std::make_unique<PageReads>(job_, limit_ > 1 ? 2 * limit_ : 0)) {
    // A time-out changed in Settings reaches the next transfers.
    services.engine.setTimeoutSeconds(program.settings.timeoutSeconds);
    memory.beginJob();
    job_.longestName = longestFileName(program.settings.savePath);
    job_.transferSlots = slots_.get();
    job_.pages = pages_.get();
    job_.dryRun = dryRun;
    job_.targets = dryRun != nullptr ? static_cast<TargetSink*>(dryRun) : queue_.get();
    job_.onPass = [this] { queue_->tick(); };
    job_.cancelEverything = [this] {
        queue_->cancelAll();
        pages_->cancelAll();
        slots_->cancelAll();
    };
}

JobSurroundings::~JobSurroundings() {
    job_.cancelEverything();
}

void JobSurroundings::finishDownloads() {
    queue_->finish();
}

std::size_t JobSurroundings::lowestOpenTag() const {
    return queue_->lowestOpenTag();
}

const std::set<std::size_t>& JobSurroundings::cancelledTags() const {
    return queue_->cancelledTags();
}

namespace {

// The final message, the save folder opened when something was downloaded, the status window
// closed. A round of a watched thread says it in the log and leaves the window open.
void finishJob(JobContext& job, bool keepWindowOpen = false) {
    JobServices& services = job.services;
    // Files skipped as saved already are counted apart, only when there are any.
    const int already = job.counts.alreadySaved;
    const std::string alreadySaved =
        already > 0 ? " " + std::to_string(already) + " file(s) already saved." : "";
    if (keepWindowOpen) {
        services.status.appendLog(
            "Task finished !\r\n" +
            (job.counts.finished > 0
                 ? " " + std::to_string(job.counts.finished) + " file(s) downloaded."
                 : std::string("No file downloaded.")) +
            alreadySaved + "\r\n");
        return;
    }
    if (job.counts.finished > 0) {
        services.messageBox.show("Finish",
                                 "Task finished !\r\n " + std::to_string(job.counts.finished) +
                                     " file(s) downloaded." + alreadySaved,
                                 MessageIcon::None);
        services.shell.openFolder(job.program.settings.savePath);
    } else {
        services.messageBox.show("Finish", "Task finished !\r\nNo file downloaded." + alreadySaved,
                                 MessageIcon::None);
    }
    services.status.close();
}

// With the archive and the thread's next pages: the last page this job read, for the next job on
// the thread to go on from. Only a job that ended whole remembers it, so that no file of the
// pages before it is left behind by a stop.
void rememberLastPage(JobContext& job) {
    if (job.archive == nullptr || job.dryRun != nullptr || !job.program.choices.followNextPages ||
        job.services.pageReader == nullptr) {
        return;
    }
    std::string problem;
    if (!job.archive->rememberLastPage(job.threadAddress, job.page.number, job.page.address,
                                       problem) &&
        !job.archiveProblemSaid) {
        job.archiveProblemSaid = true;
        job.services.status.appendLog(problem + "\r\n");
    }
}

void takeCounts(const JobContext& job, JobResult& result) {
    result.finishedCount = job.counts.finished;
    result.failuresLogged = job.counts.failuresLogged;
    result.alreadySaved = job.counts.alreadySaved;
}

}  // namespace

namespace {

// What a job takes beyond the page: the archive opened, the templates read. A problem with one
// of them is said in an "Error" box, and no job starts: files must not land elsewhere than the
// user chose, nor be fetched again that the archive would have skipped.
struct JobSetup {
    std::unique_ptr<DownloadArchive> archive;
    std::optional<NameTemplate> folderTemplate;
    std::optional<NameTemplate> nameTemplate;

    bool prepare(const JobOptions& options, JobServices& services, JobResult& result) {
        std::string problem;
        const auto readTemplate = [&](const std::string& text, NameTemplate::Kind kind,
                                      std::optional<NameTemplate>& into) {
            if (text.empty() || !problem.empty()) return;
            std::string why;
            into = NameTemplate::parse(text, kind, why);
            if (!into) {
                problem =
                    (kind == NameTemplate::Kind::Folder ? "Folder template" : "Name template") +
                    std::string(" cannot be used: ") + why;
            }
        };
        readTemplate(options.folderTemplate, NameTemplate::Kind::Folder, folderTemplate);
        readTemplate(options.nameTemplate, NameTemplate::Kind::FileName, nameTemplate);
        if (problem.empty() && !options.archiveFile.empty() && !options.dryRun) {
            archive = DownloadArchive::open(options.archiveFile, problem);
        }
        if (problem.empty()) return true;
        result.setupProblem = problem;
        services.messageBox.show("Error", problem, MessageIcon::Critical);
        return false;
    }

    void lend(JobContext& job) const {
        job.archive = archive.get();
        job.folderTemplate = folderTemplate ? &*folderTemplate : nullptr;
        job.nameTemplate = nameTemplate ? &*nameTemplate : nullptr;
        job.date = jobDate(std::time(nullptr));
    }
};

}  // namespace

JobResult runDownloadJob(ProgramState& program, JobServices& services, HostRuleMemory& memory,
                         BrowserDocument& document, const std::string& addressBoxText,
                         const JobOptions& options) {
    JobResult result;
    // The button can be enabled again by navigation while a job yields: one job at a time.
    if (program.jobRunning) return result;
    // Checked once, so that a folder that cannot take a file is said at once and why, instead of
    // every file failing three times. A dry run saves nothing, so it neither needs nor tries one.
    if (!options.dryRun && !saveFolderIsUsable(program, services, result)) return result;
    JobSetup setup;
    if (!setup.prepare(options, services, result)) return result;
    RunningFlag running(program.jobRunning);
    result.started = true;
    // A stop request left over from an earlier job must not end this one.
    program.runState = RunState::Running;

    std::optional<DryRun> dryRun;
    if (options.dryRun) dryRun.emplace(options.dryRun);
    JobSurroundings surroundings(program, services, memory, dryRun ? &*dryRun : nullptr);
    JobContext& job = surroundings.job();
    job.resolveAddress = options.resolveAddress;
    setup.lend(job);

    if (job.dryRun == nullptr) services.status.open();
    const HostRegistry registry(options.fileRules);
    job.page = readPageInHand(document, options.linkedImages || registry.needsLinks());
    job.page.address = std::string(trim(addressBoxText, " "));
    job.threadAddress = job.page.address;
    job.threadTitle = job.page.title;
    LookAhead ahead(job, registry, options.linkedImages);

    try {
        walkPage(job, registry, options.linkedImages, ahead);
        result.nextPageProblem = walkNextPages(job, registry, options, ahead);
        surroundings.finishDownloads();
        rememberLastPage(job);
    } catch (const JobStopped&) {
        result.stopped = true;
    }
    if (job.dryRun == nullptr) finishJob(job, options.keepWindowOpen);
    takeCounts(job, result);
    return result;
}

namespace {

// One address of a retry: the rule that takes it, when it is something a rule turns into a
// full-size file (a thumbnail, a link of a link rule), else it is downloaded as it stands. A rule
// that takes it and hands nothing over keeps it in failed.txt with the reason; it is never
// downloaded as itself.
void retryAddress(JobContext& job, const HostRegistry& registry, const std::string& address) {
    const int before = job.counts.handedOver + job.counts.failuresLogged;
    job.declined.clear();
    // failed.txt says nothing of links: the address is offered to link rules as a link and to
    // image rules as an image.
    const HostChoice choice = registry.choose(address, address);
    const HostSlot* slot = choice.slot;
    const bool slotTakes = slot != nullptr && slot->rule != nullptr &&
                           slot->isThumbnail != nullptr && slot->isThumbnail(address);
    if (choice.fileRule.rule == nullptr && !slotTakes) {
        DownloadTarget target{address, {}};
        assignField(target.name, [&] { return lastField(address, "/"); });
        fetchFile(job, target);
        return;
    }
    try {
        if (choice.fileRule.rule != nullptr) {
            runFileRule(job, choice.fileRule,
                        choice.fileRule.rule->subject == RuleSubject::Image ? address : "");
        } else {
            slot->rule(job, address);
        }
    } catch (const std::exception&) {
        // As in the walk: a failing step ends this rule only.
    }
    job.walkEnded = false;  // there is no walk to end
    if (job.counts.handedOver + job.counts.failuresLogged != before) return;
    const std::string reason = !job.declined.empty() ? job.declined : declineReason(choice);
    job.services.status.appendLog("No full-size image for " + oneLine(address) + " (" +
                                  oneLine(reason) + ")\r\n");
    logFailedAddress(job, address);
}

}  // namespace

JobResult runRetryJob(ProgramState& program, JobServices& services, HostRuleMemory& memory,
                      const std::vector<std::string>& addresses, const JobOptions& options) {
    JobResult result;
    if (program.jobRunning) return result;
    // As a page's job: a folder that cannot take a file is said before anything is asked for.
    if (!saveFolderIsUsable(program, services, result)) return result;
    JobSetup setup;
    if (!setup.prepare(options, services, result)) return result;
    RunningFlag running(program.jobRunning);
    result.started = true;
    program.runState = RunState::Running;

    JobSurroundings surroundings(program, services, memory, nullptr);
    JobContext& job = surroundings.job();
    job.resolveAddress = options.resolveAddress;
    setup.lend(job);
    // The files of earlier jobs stand in the save folder: a retry's file never replaces one.
    job.neverReplace = true;
    services.status.open();
    const HostRegistry registry(options.fileRules);
    try {
        for (const std::string& address : addresses) {
            job.checkStop();
            job.currentTag = result.addressesDone;
            // The address is what goes to failed.txt again when its rule cannot go on, and what
            // the archive records its files for. An entry the archive holds is still tried: a
            // file of it failed.
            job.entry = address;
            job.archiveEntry = address;
            job.entryIndex = static_cast<int>(result.addressesDone) + 1;
            retryAddress(job, registry, address);
            ++result.addressesDone;
        }
        surroundings.finishDownloads();
    } catch (const JobStopped&) {
        result.stopped = true;
    }
    finishJob(job);
    takeCounts(job, result);

    // The new list, in the order of the old one: what was not settled (not reached, or stopped
    // before all its files ended) as it stood, and what failed again as it was logged.
    const std::set<std::size_t>& cancelled = surroundings.cancelledTags();
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (i >= result.addressesDone || cancelled.count(i) != 0) {
            result.retryList.push_back(addresses[i]);
            continue;
        }
        for (const auto& [tag, line] : job.loggedFailures) {
            if (tag == i) result.retryList.push_back(line);
        }
    }
    for (const auto& logged : job.loggedFailures) result.loggedFailures.push_back(logged.second);
    result.addressesDone = std::min(result.addressesDone, surroundings.lowestOpenTag());
    return result;
}

}  // namespace velnoria
