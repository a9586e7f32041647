#pragma once

#include "download/status_window.h"
#include "platform/browser_document.h"
#include "platform/desktop.h"
#include "platform/event_loop.h"
#include "platform/transfer_control.h"
#include "platform/url_download.h"

namespace velnoria {

// The platform a download job talks to. The front end owns every piece; the job only borrows.
struct JobServices {
    TransferControl& inet;
    UrlDownload& urlDownload;
    UrlCache& urlCache;
    EventLoop& eventLoop;
    StatusWindow& status;
    BrowserDocument& document;
    MessageBox& messageBox;
    Shell& shell;
};

}  // namespace velnoria
