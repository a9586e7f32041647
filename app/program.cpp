#include "app/program.h"

#include "platform/curl/curl_transfer_control.h"
#include "platform/curl/curl_url_download.h"

namespace velnoria {

Program::Program(ProgramState& state, FrontEnd frontEnd)
    : state_(state),
      frontEnd_(frontEnd),
      cache_(std::make_unique<CurlUrlCache>()),
      transfer_(std::make_unique<CurlTransferControl>(frontEnd.eventLoop, *cache_)),
      urlDownload_(std::make_unique<CurlUrlDownload>(state.settings.timeoutSeconds, *cache_)),
      statusWindow_(state.runState, frontEnd.statusView, frontEnd.eventLoop) {
    transfer_->setTimeoutSeconds(state.settings.timeoutSeconds);
}

Program::~Program() = default;

UrlDownload& Program::urlDownload() {
    return *urlDownload_;
}

JobResult Program::runDownloadJob(BrowserDocument& document, const std::string& addressBoxText) {
    JobServices services{*transfer_,           *urlDownload_,  *cache_,
                         frontEnd_.eventLoop,  statusWindow_,  document,
                         frontEnd_.messageBox, frontEnd_.shell};
    return velnoria::runDownloadJob(state_, services, addressBoxText);
}

UpdateCheckOutcome Program::checkForUpdate(
    const std::function<void(const std::string&)>& setStatusLine, bool startingUp) {
    const UpdateCheckServices services{setStatusLine, frontEnd_.messageBox, frontEnd_.shell,
                                       *urlDownload_, state_.scratchFolder};
    return velnoria::checkForUpdate(services, startingUp);
}

}  // namespace velnoria
