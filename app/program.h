#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "download/download_job.h"
#include "download/host_rules.h"
#include "download/program_state.h"
#include "download/rules/rules_file.h"
#include "download/status_window.h"
#include "platform/browser_document.h"
#include "platform/desktop.h"
#include "platform/event_loop.h"
#include "platform/status_view.h"
#include "platform/transfer_engine.h"
#include "platform/url_download.h"
#include "update/update_check.h"

namespace velnoria {

class CurlUrlCache;
class CurlTransferEngine;
class DrivingEventLoop;
class WaitingDownload;

// What a front end shows the job with and asks the user through.
struct FrontEnd {
    EventLoop& eventLoop;
    StatusView& statusView;
    MessageBox& messageBox;
    Shell& shell;
};

// The program both front ends are built around: its network on libcurl and the status window's
// model, wired to the download job and the update check. The desktop program and velnoria-get
// each make one after reading their settings, and differ only in the front end they hand in.
class Program {
  public:
    // The time-out of state.settings is given to the network here, and again whenever a job or
    // an update check starts.
    Program(ProgramState& state, FrontEnd frontEnd);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    ProgramState& state() { return state_; }
    // The status window's model; the view's Pause and Stop/Abort buttons call its handlers.
    StatusWindow& statusWindow() { return statusWindow_; }
    // The whole download of pages, header requests and the version file, on the transfer engine
    // (velnoria-get reads its page with it).
    UrlDownload& urlDownload();
    // The one engine every request goes through.
    TransferEngine& transferEngine();
    // The front end's event loop, driving the transfer engine whenever it yields.
    EventLoop& eventLoop();

    // "Start Download" on the given document; returns once the job has ended. The rules file of
    // the choices is read for the job: its problems are shown in an "Error" box, and the job runs
    // with its good rules. The reader, when given, reads the thread's next pages (when the
    // choices ask for them). With a reporter, a dry run: the targets are reported, not downloaded.
    // A round of a watched thread keeps the status window open for the wait that follows.
    JobResult runDownloadJob(BrowserDocument& document, const std::string& addressBoxText,
                             PageReader* nextPages = nullptr, TargetReporter dryRun = {},
                             bool keepWindowOpen = false);

    // The job once more on the addresses of "failed.txt" (velnoria-get --retry-failed), with the
    // rules file of the choices as a page's job has it.
    JobResult runRetryJob(const std::vector<std::string>& addresses);

    // Hands the session of the state to the engine, when it is not the one the engine has: the
    // cookies that answers set since are kept as long as the session stays the same.
    void takeSession();

    // The rules file as a job reads it (a relative name counts from the work folder).
    RulesFile readRules(const std::string& rulesFile) const;

    // The "U" button, and the silent check at start-up.
    UpdateCheckOutcome checkForUpdate(const std::function<void(const std::string&)>& setStatusLine,
                                      bool startingUp);

  private:
    // The options a job runs with, from the choices; the rules file is read here.
    JobOptions jobOptions();
    // The settings' time-out, for the transfers started from now on.
    void takeTimeout();

    ProgramState& state_;
    FrontEnd frontEnd_;
    std::unique_ptr<CurlUrlCache> cache_;
    std::unique_ptr<CurlTransferEngine> engine_;
    std::unique_ptr<DrivingEventLoop> eventLoop_;
    std::unique_ptr<WaitingDownload> urlDownload_;
    StatusWindow statusWindow_;
    // What the built-in rules remember for the program's run (ImageVenue's done list).
    HostRuleMemory memory_;
    std::optional<Session> sessionTaken_;
};

}  // namespace velnoria
