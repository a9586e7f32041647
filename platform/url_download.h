#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace velnoria {

// What became of a blocking download. Callers that must judge success look at it; callers that
// judge by effects (a file that exists) may ignore it.
struct DownloadOutcome {
    bool transferred = false;  // the whole body arrived without a transfer error
    long httpStatus = 0;       // status of the final response, 0 when none arrived
    bool written = true;       // every byte was accepted by the sink
    std::string error;         // a short reason when !transferred or !written
    std::string finalUrl;      // the address answered last, after redirects; "" when unknown
    std::string contentType;   // the final answer's Content-Type; "" when none
    bool interrupted = false;  // ended early because the interruption hook said so
};

// Receives the body in order. Returning false aborts the transfer (written becomes false).
using ByteSink = std::function<bool(const char* data, std::size_t size)>;

// A blocking download of an address: returns when the transfer has ended.
class UrlDownload {
  public:
    virtual ~UrlDownload() = default;

    // maxBytes bounds the body; a longer body aborts the transfer (transferred becomes false).
    virtual DownloadOutcome download(const std::string& url, const ByteSink& sink,
                                     std::uint64_t maxBytes) = 0;

    // Asked now and then while a download runs; once it says true, the download ends at once
    // (interrupted). A download that cannot be ended early ignores it.
    virtual void setInterruption(std::function<bool()>) {}
};

// Removes an address's cached copy so that the next request for it is answered by the server.
class UrlCache {
  public:
    virtual ~UrlCache() = default;
    virtual void deleteEntry(const std::string& url) = 0;
};

}  // namespace velnoria
