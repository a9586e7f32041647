#include "app/program.h"

#include "platform/curl/curl_transfer_control.h"
#include "platform/curl/curl_transfer_engine.h"
#include "platform/curl/curl_transfer_pool.h"
#include "platform/curl/url_resolution.h"
#include "platform/driving_event_loop.h"
#include "platform/waiting_download.h"

namespace velnoria {

Program::Program(ProgramState& state, FrontEnd frontEnd)
    : state_(state),
      frontEnd_(frontEnd),
      cache_(std::make_unique<CurlUrlCache>()),
      engine_(std::make_unique<CurlTransferEngine>(*cache_)),
      eventLoop_(std::make_unique<DrivingEventLoop>(frontEnd.eventLoop, *engine_)),
      urlDownload_(std::make_unique<WaitingDownload>(*engine_, *eventLoop_)),
      transfer_(std::make_unique<CurlTransferControl>(frontEnd.eventLoop, *cache_)),
      pool_(std::make_unique<CurlTransferPool>(*cache_)),
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
    transfer_->setTimeoutSeconds(state_.settings.timeoutSeconds);
}

RulesFile Program::readRules(const std::string& rulesFile) const {
    const std::filesystem::path file(rulesFile);
    return readRulesFile(file.is_absolute() ? file : state_.workFolder / file, rulesFile);
}

JobOptions Program::jobOptions() {
    JobOptions options;
    options.linkedImages = state_.choices.linkedImages;
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
                                  PageReader* nextPages, TargetReporter dryRun) {
    // A job is running (this was clicked from inside it): it is left alone, rules file and all.
    if (state_.jobRunning) return {};
    takeTimeout();
    JobOptions options = jobOptions();
    options.dryRun = std::move(dryRun);
    JobServices services{
        *transfer_, *urlDownload_,        *cache_,         *eventLoop_, statusWindow_,
        document,   frontEnd_.messageBox, frontEnd_.shell, nextPages,   pool_.get()};
    return velnoria::runDownloadJob(state_, services, addressBoxText, options);
}

JobResult Program::runRetryJob(const std::vector<std::string>& addresses) {
    if (state_.jobRunning) return {};
    // A retry has no page: its rules see an empty document.
    class NoDocument : public BrowserDocument {
      public:
        std::vector<std::string> imageSources() override { return {}; }
        std::vector<std::string> linkTargets() override { return {}; }
        std::vector<ImageInLink> imagesWithLinks() override { return {}; }
    } document;
    takeTimeout();
    JobServices services{
        *transfer_, *urlDownload_,        *cache_,         *eventLoop_, statusWindow_,
        document,   frontEnd_.messageBox, frontEnd_.shell, nullptr,     pool_.get()};
    return velnoria::runRetryJob(state_, services, addresses, jobOptions());
}

UpdateCheckOutcome Program::checkForUpdate(
    const std::function<void(const std::string&)>& setStatusLine, bool startingUp) {
    takeTimeout();
    const UpdateCheckServices services{setStatusLine, frontEnd_.messageBox, frontEnd_.shell,
                                       *urlDownload_, state_.scratchFolder};
    return velnoria::checkForUpdate(services, startingUp);
}

}  // namespace velnoria
