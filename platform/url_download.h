#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/transfer_engine.h"

namespace velnoria {

// What became of a whole download. Callers that must judge success look at it; callers that
// judge by effects (a file that exists) may ignore it.
struct DownloadOutcome {
    bool transferred = false;  // the whole body arrived without a transfer error
    long httpStatus = 0;       // status of the final response, 0 when none arrived
    bool written = true;       // every byte was accepted by the sink
    std::string error;         // a short reason when !transferred or !written
    std::string finalUrl;      // the address answered last, after redirects; "" when unknown
    std::string contentType;   // the final answer's Content-Type; "" when none
    std::string headerBlock;   // the final answer's header block, status line first
    bool interrupted = false;  // ended early because the interruption hook said so
};

// Receives the body in order. Returning false aborts the transfer (written becomes false).
using ByteSink = std::function<bool(const char* data, std::size_t size)>;

// A whole download of an address (a page, a header request, the version file): returns when the
// transfer has ended. It waits by yielding to the event loop, so the windows and every other
// transfer go on meanwhile.
class UrlDownload {
  public:
    virtual ~UrlDownload() = default;

    // request.maxBodyBytes bounds the body; a longer body aborts the transfer (transferred
    // becomes false).
    virtual DownloadOutcome download(const TransferRequest& request, const ByteSink& sink) = 0;

    // A GET of url, its body bounded by maxBytes.
    DownloadOutcome download(const std::string& url, const ByteSink& sink, std::uint64_t maxBytes) {
        TransferRequest request;
        request.url = url;
        request.maxBodyBytes = maxBytes;
        return download(request, sink);
    }

    // Asked after every yield while a download waits; once it says true, the download ends at
    // once (interrupted).
    virtual void setInterruption(std::function<bool()>) {}
};

// Removes an address's cached copy so that the next request for it is answered by the server.
class UrlCache {
  public:
    virtual ~UrlCache() = default;
    virtual void deleteEntry(const std::string& url) = 0;
};

}  // namespace velnoria
