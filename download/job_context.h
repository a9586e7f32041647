#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "download/program_state.h"
#include "download/status_window.h"
#include "platform/browser_document.h"
#include "platform/desktop.h"
#include "platform/event_loop.h"
#include "platform/transfer_control.h"
#include "platform/transfer_pool.h"
#include "platform/url_download.h"

namespace velnoria {

// Thrown by the per-file download when it honours Stop/Abort: the rule and the walk are left
// and the job goes straight to its end. Deliberately not a std::exception, so that the handlers
// that skip a failing step never swallow it.
struct JobStopped {};

class ParallelDownloads;

inline constexpr int kThumbListSize = 3000;

class DryRun;

// Makes an address found on a page absolute against the page's own address.
using AddressResolver =
    std::function<std::string(std::string_view base, std::string_view reference)>;

// The platform a download job talks to. The front end owns every piece; the job only borrows.
struct JobServices {
    TransferControl& transfer;
    UrlDownload& urlDownload;
    UrlCache& urlCache;
    EventLoop& eventLoop;
    StatusWindow& status;
    BrowserDocument& document;
    MessageBox& messageBox;
    Shell& shell;
    PageReader* pageReader = nullptr;      // for the thread's next pages; none: one page only
    TransferPool* transferPool = nullptr;  // for downloads at once; none: one at a time
};

// What a rule hands the per-file download: where the full-size file is, and the name to save it
// under in the save folder (made safe by the download).
struct DownloadTarget {
    std::string url;
    std::string name;
};

// Everything one download job shares between its steps; made fresh for every job.
struct JobContext {
    JobContext(ProgramState& programState, JobServices& jobServices)
        : program(programState), services(jobServices) {}

    ProgramState& program;
    JobServices& services;

    std::string pageAddress;
    std::vector<std::string> thumbList;  // entries 1..3000 at indexes 0..2999
    std::string entry;                   // the thumb list entry being walked
    int finishedCount = 0;
    int failuresLogged = 0;
    int alreadySaved = 0;  // files found saved whole already (skip existing)
    int filesHanded = 0;   // targets handed to the per-file download
    std::map<std::string, std::string> savedNames;  // file name -> the address saved under it
    std::string flickrUser;
    bool walkEnded = false;  // set by a rule that ends the walk after the current entry
    // Downloads at once: the per-file download hands its files over here. Files are tagged with
    // currentTag (a retry's address index) to tell which addresses are settled.
    ParallelDownloads* parallel = nullptr;
    std::size_t currentTag = 0;

    // Set for a dry run: the targets the rules hand over are reported, not downloaded.
    DryRun* dryRun = nullptr;
    // For the rules of a rules file; none leaves addresses as they were found.
    AddressResolver resolveAddress;
};

}  // namespace velnoria
