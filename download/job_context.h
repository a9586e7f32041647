#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "download/archive.h"
#include "download/page_in_hand.h"
#include "download/program_state.h"
#include "download/status_window.h"
#include "platform/browser_document.h"
#include "platform/desktop.h"
#include "platform/event_loop.h"
#include "platform/transfer_engine.h"
#include "platform/url_download.h"

namespace velnoria {

// Thrown when the job honours Stop/Abort: the rule and the walk are left and the job goes
// straight to its end. Deliberately not a std::exception, so that the handlers that skip a
// failing step never swallow it.
struct JobStopped {};

inline constexpr int kThumbListSize = 3000;

class DryRun;
class NameTemplate;
class PageReads;
class TransferSlots;
struct HostRuleMemory;

// Makes an address found on a page absolute against the page's own address.
using AddressResolver =
    std::function<std::string(std::string_view base, std::string_view reference)>;

// The platform a download job talks to. The front end owns every piece; the job only borrows.
struct JobServices {
    TransferEngine& engine;  // every request of the job
    UrlCache& urlCache;
    EventLoop& eventLoop;  // the front end's: windows, or the terminal's Ctrl+C
    StatusWindow& status;
    MessageBox& messageBox;
    Shell& shell;
    PageReader* pageReader = nullptr;  // for the thread's next pages; none: one page only
};

// What a rule hands the per-file download: where the full-size file is, and the name to save it
// under in the save folder (made safe by the download).
struct DownloadTarget {
    DownloadTarget(std::string fileUrl = {}, std::string fileName = {})
        : url(std::move(fileUrl)), name(std::move(fileName)) {}

    std::string url;
    std::string name;
    // The folder below the save folder the file goes into ("" the save folder itself): what the
    // folder template made of it.
    std::string folder;
    // How the request goes out: the page it comes from (for the Referer), cookies for the file's
    // host alone, further header lines. A rule sets what its host needs.
    std::string referringPage;
    std::string hostCookies;
    std::vector<std::string> headers;
    // The headers carry the Referer the rule chose (or it chose none): no referring page.
    bool ownReferer = false;
    // Set for a host that answers a stand-in picture for a deleted image: such an answer (by its
    // size and SHA-256 in hex) is a failed attempt.
    std::function<bool(std::uint64_t size, std::string_view sha256)> isPlaceholder;
};

// Where the targets the rules find go: the downloads (one at a time or at once), or a dry run.
class TargetSink {
  public:
    virtual ~TargetSink() = default;
    // Returns once the target is taken care of as far as this sink goes (one at a time: the file
    // has ended). Throws JobStopped on a stop request.
    virtual void handOver(const DownloadTarget& target) = 0;
};

// What a job counts.
struct JobCounts {
    int finished = 0;        // files that ended "OK"
    int failuresLogged = 0;  // addresses written to failed.txt
    int alreadySaved = 0;    // files found saved whole already (skip existing, the archive)
    int handedOver = 0;      // targets handed to the download
};

// Everything one download job shares between its steps; made fresh for every job.
class JobContext {
  public:
    JobContext(ProgramState& programState, JobServices& jobServices, HostRuleMemory& ruleMemory)
        : program(programState), services(jobServices), memory(ruleMemory) {}

    ProgramState& program;
    JobServices& services;
    HostRuleMemory& memory;  // what the built-in rules keep

    PageInHand page;     // the page being walked
    std::string entry;   // the thumb list entry being walked
    int entryIndex = 0;  // its place on the page, from 1 (0 outside the walk)
    // What the rule at work took, as the archive keeps it: the thumbnail's address, or the
    // link's for a rule that takes links; "" when nothing took the entry.
    std::string archiveEntry;
    JobCounts counts;
    std::map<std::string, std::string> savedNames;  // file name -> the address saved under it
    bool walkEnded = false;  // set by a rule that ends the walk after the current entry

    TargetSink* targets = nullptr;           // where fetchFile hands its targets
    PageReads* pages = nullptr;              // how rules read service pages
    TransferSlots* transferSlots = nullptr;  // the job's share of the engine
    DryRun* dryRun = nullptr;                // set for a dry run
    // A retry's address index, so that the files tell which addresses are settled.
    std::size_t currentTag = 0;
    // What this job wrote to failed.txt, each line with the tag of what it was for.
    std::vector<std::pair<std::size_t, std::string>> loggedFailures;
    // Why the last rule that ran handed nothing over (for a retry's log); "" when it said nothing.
    std::string declined;
    // A retry never replaces a file that stands in the save folder: its files take free names.
    bool neverReplace = false;
    // The longest file name the save folder takes.
    std::size_t longestName = 255;
    // What was saved, across jobs; none without the archive.
    DownloadArchive* archive = nullptr;
    // The thread this job walks: its first page's address and title.
    std::string threadAddress;
    std::string threadTitle;
    // The folder and name of each file, when the user chose templates; the day of the job.
    const NameTemplate* folderTemplate = nullptr;
    const NameTemplate* nameTemplate = nullptr;
    std::string date;
    // With the archive: each full-size address saved in this job, as it was recorded (also
    // when the archive could not take it).
    std::map<std::string, SavedFile> savedAddresses;
    // The archive could not be written once: said once, the job goes on.
    bool archiveProblemSaid = false;
    // For the rules of a rules file; none leaves addresses as they were found.
    AddressResolver resolveAddress;
    // Called on every pass of a wait: what moves on with time (a file waiting to try again).
    std::function<void()> onPass;

    bool stopRequested() const { return program.runState == RunState::StopRequested; }
    // Honours a stop request now, when there is one: everything in hand is cancelled and
    // JobStopped thrown.
    void checkStop();
    [[noreturn]] void stopNow();
    // Every transfer cancelled; set by the job's surroundings.
    std::function<void()> cancelEverything;

    // Yields, moving every transfer on, until done() says so. A stop request ends the wait at once
    // (JobStopped). No pass blocks the windows for longer than a moment.
    void waitUntil(const std::function<bool()>& done);
    // Yields for that long (a service's own pause), as waitUntil.
    void waitFor(std::chrono::milliseconds time);
};

}  // namespace velnoria
