#include "app/program.h"

#include "platform/curl/curl_transfer_engine.h"
#include "platform/curl/url_resolution.h"
#include "platform/driving_event_loop.h"
#include "platform/session.h"
#include "platform/waiting_download.h"

namespace velnoria {

namespace {

// While a job runs, a whole download (a next page the front end reads for it) ends at once on a
// stop request: the job's own, or Ctrl+C not yet handed over by the terminal.
class StopEndsPageReads {
  public:
    StopEndsPageReads(UrlDownload& download, const RunState& runState, EventLoop& frontEnd)
        : download_(download) {
        download_.setInterruption([&runState, &frontEnd] {
            return runState == RunState::StopRequested || frontEnd.stopPending();
        });
    }
    ~StopEndsPageReads() { download_.setInterruption({}); }
    StopEndsPageReads(const StopEndsPageReads&) = delete;
    StopEndsPageReads& operator=(const StopEndsPageReads&) = delete;

  private:
    UrlDownload& download_;
};

}  // namespace

Program::Program(ProgramState& state, FrontEnd frontEnd)
    : state_(state),
      frontEnd_(frontEnd),
      cache_(std::make_unique<CurlUrlCache>()),
      engine_(std::make_unique<CurlTransferEngine>(*cache_)),
      eventLoop_(std::make_unique<DrivingEventLoop>(frontEnd.eventLoop, *engine_)),
      urlDownload_(std::make_unique<WaitingDownload>(*engine_, *eventLoop_)),
      statusWindow_(state.runState, frontEnd.statusView, frontEnd.eventLoop) {
    takeTimeout();
}

Program::~Program() = default;

UrlDownload& Program::urlDownload() {
    return *urlDownload_;
}

TransferEngine& Program::transferEngine() {
    return *engine_;
}

EventLoop& Program::eventLoop() {
    return *eventLoop_;
}

void Program::takeTimeout() {
    engine_->setTimeoutSeconds(state_.settings.timeoutSeconds);
}

void Program::takeSession() {
    if (sessionTaken_ && *sessionTaken_ == state_.session) return;
    applySession(state_.session, *engine_);
    sessionTaken_ = state_.session;
}

RulesFile Program::readRules(const std::string& rulesFile) const {
    const std::filesystem::path file(rulesFile);
    return readRulesFile(file.is_absolute() ? file : state_.workFolder / file, rulesFile);
}

JobOptions Program::jobOptions() {
    JobOptions options;
    options.linkedImages = state_.choices.linkedImages;
    // A watched thread keeps an archive: each round fetches only what is new.
    if (state_.choices.rememberSaved || state_.choices.watchMinutes > 0) {
        options.archiveFile = state_.archiveFile.empty() ? state_.workFolder / kArchiveFileName
                                                         : state_.workFolder / state_.archiveFile;
    }
    options.folderTemplate = state_.choices.folderTemplate;
    options.nameTemplate = state_.choices.nameTemplate;
    options.resolveAddress = [](std::string_view base, std::string_view reference) {
        return resolveUrl(base, reference);
    };
    // Read once for each job, so an edited file counts from the next job on.
    if (!state_.choices.rulesFile.empty()) {
        const RulesFile rules = readRules(state_.choices.rulesFile);
        if (!rules.problems.empty()) {
            frontEnd_.messageBox.show("Error", describeProblems(rules.problems),
                                      MessageIcon::Critical);
        }
        options.fileRules = rules.rules;
    }
    return options;
}

JobResult Program::runDownloadJob(BrowserDocument& document, const std::string& addressBoxText,
                                  PageReader* nextPages, TargetReporter dryRun,
                                  bool keepWindowOpen) {
    // A job is running (this was clicked from inside it): it is left alone, rules file and all.
    if (state_.jobRunning) return {};
    takeTimeout();
    takeSession();
    JobOptions options = jobOptions();
    options.dryRun = std::move(dryRun);
    options.keepWindowOpen = keepWindowOpen;
    JobServices services{
        *engine_,        *cache_,  *eventLoop_, statusWindow_, frontEnd_.messageBox,
        frontEnd_.shell, nextPages};
    const StopEndsPageReads stopEnds(*urlDownload_, state_.runState, frontEnd_.eventLoop);
    return velnoria::runDownloadJob(state_, services, memory_, document, addressBoxText, options);
}

JobResult Program::runRetryJob(const std::vector<std::string>& addresses) {
    if (state_.jobRunning) return {};
    takeTimeout();
    takeSession();
    JobServices services{*engine_,        *cache_, *eventLoop_, statusWindow_, frontEnd_.messageBox,
                         frontEnd_.shell, nullptr};
    return velnoria::runRetryJob(state_, services, memory_, addresses, jobOptions());
}

UpdateCheckOutcome Program::checkForUpdate(
    const std::function<void(const std::string&)>& setStatusLine, bool startingUp) {
    takeTimeout();
    const UpdateCheckServices services{setStatusLine, frontEnd_.messageBox, frontEnd_.shell,
                                       *urlDownload_, state_.scratchFolder};
    return velnoria::checkForUpdate(services, startingUp);
}

}  // namespace velnoria
