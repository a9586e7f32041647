#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "download/dry_run.h"
#include "download/host_rules.h"
#include "download/job_context.h"
#include "download/rules/file_rule.h"

namespace velnoria {

struct JobResult {
    bool started = false;  // false when a job was already running or the save folder is unusable
    std::string saveFolderProblem;  // why no file can be made in the save folder; "" when one can
    // Why the archive or a name template cannot be used (said in an "Error" box; no job ran).
    std::string setupProblem;
    int finishedCount = 0;          // files that ended "OK"
    int failuresLogged = 0;         // addresses this job wrote to "failed.txt"
    int alreadySaved = 0;           // files found saved whole already
    bool stopped = false;           // ended by Stop/Abort
    std::size_t addressesDone = 0;  // of a retry: how many of its addresses were handled whole
    std::string nextPageProblem;    // why a next page of the thread could not be read; "" none
    // Of a retry: the new failed.txt's addresses, in the order of the old one (those not settled,
    // and the lines logged for those that failed again), and every line it logged.
    std::vector<std::string> retryList;
    std::vector<std::string> loggedFailures;
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
    // Set: what is saved is recorded in this archive and skipped from then on, and a thread goes
    // on from the last page read before. A dry run uses none.
    std::filesystem::path archiveFile;
    // The folder below the save folder and the name of each file; "" the rule's name in the
    // save folder.
    std::string folderTemplate;
    std::string nameTemplate;
    // A round of a watched thread: the final message goes to the status window's log, which
    // stays open for the wait that follows, instead of a box.
    bool keepWindowOpen = false;
};

class DownloadQueue;
class PageReads;
class TransferSlots;

// A job's surroundings: its share of the engine, the downloads (or the dry run), the page reads,
// and the one way everything in hand ends on a stop.
class JobSurroundings {
  public:
    // With a dry run, targets are reported there and nothing is downloaded.
    JobSurroundings(ProgramState& program, JobServices& services, HostRuleMemory& memory,
                    DryRun* dryRun);
    ~JobSurroundings();
    JobSurroundings(const JobSurroundings&) = delete;
    JobSurroundings& operator=(const JobSurroundings&) = delete;

    JobContext& job() { return job_; }
    // Waits for every download to end. Throws JobStopped.
    void finishDownloads();
    // Of a retry: the smallest tag of a file not ended (a stop's among them); SIZE_MAX when none.
    std::size_t lowestOpenTag() const;
    // Of a retry: the tags of the files a stop cancelled.
    const std::set<std::size_t>& cancelledTags() const;

  private:
    std::size_t limit_;
    JobContext job_;
    std::unique_ptr<TransferSlots> slots_;
    std::unique_ptr<DownloadQueue> queue_;
    std::unique_ptr<PageReads> pages_;
};

// "Start Download" on the document the front end shows: the whole job, run synchronously; returns
// once the job has ended. The job yields to the event loop while it waits for the network (for a
// file, a service page, a header request, a next page); the front end's handlers, Pause and
// Stop/Abort among them, run nested there. A save folder in which no file can be made is said in an
// "Error" box, and no job starts.
JobResult runDownloadJob(ProgramState& program, JobServices& services, HostRuleMemory& memory,
                         BrowserDocument& document, const std::string& addressBoxText,
                         const JobOptions& options = {});

// The job once more on addresses that failed before ("failed.txt"), instead of a page's images:
// an address a rule of the rules file takes (as an image, or as a link for a link rule), or that
// is a thumbnail of a built-in service, goes through its rule; any other is downloaded as it
// stands, named by its last "/" field. A rule that hands nothing over keeps its address with the
// reason; a retry's file never replaces one in the save folder. The options' dry run and linked
// images do not apply: there is no page.
JobResult runRetryJob(ProgramState& program, JobServices& services, HostRuleMemory& memory,
                      const std::vector<std::string>& addresses, const JobOptions& options = {});

}  // namespace velnoria
