#include "app/program.h"

#include "platform/curl/curl_transfer_control.h"
#include "platform/curl/curl_transfer_pool.h"
#include "platform/curl/curl_url_download.h"
#include "platform/curl/url_resolution.h"

namespace velnoria {

Program::Program(ProgramState& state, FrontEnd frontEnd)
    : state_(state),
      frontEnd_(frontEnd),
      cache_(std::make_unique<CurlUrlCache>()),
      transfer_(std::make_unique<CurlTransferControl>(frontEnd.eventLoop, *cache_)),
      pool_(std::make_unique<CurlTransferPool>(*cache_)),
      urlDownload_(std::make_unique<CurlUrlDownload>(state.settings.timeoutSeconds, *cache_)),
      statusWindow_(state.runState, frontEnd.statusView, frontEnd.eventLoop) {
    transfer_->setTimeoutSeconds(state.settings.timeoutSeconds);
}

Program::~Program() = default;

UrlDownload& Program::urlDownload() {
    return *urlDownload_;
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
    JobOptions options = jobOptions();
    options.dryRun = std::move(dryRun);
    JobServices services{
        *transfer_, *urlDownload_,        *cache_,         frontEnd_.eventLoop, statusWindow_,
        document,   frontEnd_.messageBox, frontEnd_.shell, nextPages,           pool_.get()};
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
    JobServices services{*transfer_,           *urlDownload_,   *cache_,
                         frontEnd_.eventLoop,  statusWindow_,   document,
                         frontEnd_.messageBox, frontEnd_.shell, nullptr,
                         pool_.get()};
    return velnoria::runRetryJob(state_, services, addresses, jobOptions());
}

UpdateCheckOutcome Program::checkForUpdate(
    const std::function<void(const std::string&)>& setStatusLine, bool startingUp) {
    const UpdateCheckServices services{setStatusLine, frontEnd_.messageBox, frontEnd_.shell,
                                       *urlDownload_, state_.scratchFolder};
    return velnoria::checkForUpdate(services, startingUp);
}

}  // namespace velnoria
