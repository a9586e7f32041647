#include "platform/curl/curl_url_download.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "core/text.h"

namespace velnoria {

namespace {

using Clock = std::chrono::steady_clock;

// The state of one download, shared with libcurl's callbacks.
struct Transfer {
    const ByteSink& sink;
    std::uint64_t maxBytes;
    std::chrono::seconds timeout;
    const std::function<bool()>& interrupted;
    bool stopped = false;
    std::uint64_t received = 0;
    Clock::time_point lastByte = Clock::now();
    bool answered = false;  // a byte of the answer (header or body) arrived
    bool refused = false;
    bool tooLong = false;
    bool stalled = false;
    bool badLength = false;  // the final answer's Content-Length is no plain number
    // Of the answer being received (a redirect's or the final one).
    std::string lengthSeen{};     // its first Content-Length
    std::string lengthsDiffer{};  // "10 and 40" when it has two that differ
    bool headersEnded = false;    // the blank line that ends its header block arrived
};

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* state) {
    auto& t = *static_cast<Transfer*>(state);
    t.lastByte = Clock::now();
    t.answered = true;
    const std::string_view line(data, size * count);
    constexpr std::string_view kLengthName = "content-length:";
    // libcurl frames a body by whatever number stands at the start of Content-Length ("6x" is
    // 6), or by one of two that differ, so such an answer cannot be taken as whole.
    if (startsWithNoCase(line, "http/")) {
        // A new answer (after a redirect or an interim one).
        t.badLength = false;
        t.lengthSeen.clear();
        t.lengthsDiffer.clear();
        t.headersEnded = false;
    } else if (startsWithNoCase(line, kLengthName)) {
        const std::string value(trim(line.substr(kLengthName.size()), " \t\r\n"));
        if (!readContentLength(value)) t.badLength = true;
        if (t.lengthSeen.empty()) {
            t.lengthSeen = value;
        } else if (value != t.lengthSeen) {
            t.lengthsDiffer = t.lengthSeen + " and " + value;
            return 0;  // no body of such an answer can be taken: libcurl ends the transfer
        }
    } else if (trim(line, " \t\r\n").empty()) {
        t.headersEnded = true;
    }
    return size * count;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* state) {
    auto& t = *static_cast<Transfer*>(state);
    const std::size_t length = size * count;
    t.answered = true;
    if (length > t.maxBytes - t.received) {
        t.tooLong = true;
        return 0;
    }
    t.received += length;
    if (!t.sink(data, length)) {
        t.refused = true;
        return 0;
    }
    // Time spent in the sink (a slow disk) is not the network's silence.
    t.lastByte = Clock::now();
    return length;
}

int onProgress(void* state, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto& t = *static_cast<Transfer*>(state);
    if (t.interrupted && t.interrupted()) {
        t.stopped = true;
        return 1;
    }
    if (t.timeout.count() > 0 && Clock::now() - t.lastByte > t.timeout) {
        t.stalled = true;
        return 1;
    }
    return 0;
}

// Why the final answer cannot be taken as whole although libcurl took it; "" when it can.
std::string framingProblem(const Transfer& t) {
    if (!t.lengthsDiffer.empty()) return "invalid answer: Content-Length " + t.lengthsDiffer;
    if (t.badLength) return "invalid answer: Content-Length is not a number";
    if (t.answered && !t.headersEnded) return "invalid answer: header block cut short";
    return {};
}

std::string describe(CURL* easy, const Transfer& t, CURLcode result) {
    if (t.stopped) return "stopped";
    if (t.refused) return "the received data could not be written";
    if (t.tooLong || result == CURLE_FILESIZE_EXCEEDED) {
        return "longer than " + byteCountText(t.maxBytes);
    }
    if (result == CURLE_OK || !t.lengthsDiffer.empty()) return framingProblem(t);
    if (t.stalled) return "timed out";
    return failureText(easy, result);
}

}  // namespace

CurlUrlDownload::CurlUrlDownload(int timeoutSeconds, const CurlUrlCache& cache)
    : timeoutSeconds_(std::max(timeoutSeconds, 0)), cache_(cache) {
    ensureCurlGlobalInit();
    easy_ = curl_easy_init();
    if (easy_ == nullptr) throw std::runtime_error("libcurl handle could not be created");
    applyCommonOptions(easy_);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
}

CurlUrlDownload::~CurlUrlDownload() {
    curl_easy_cleanup(easy_);
}

void CurlUrlDownload::setInterruption(std::function<bool()> interrupted) {
    interrupted_ = std::move(interrupted);
}

void CurlUrlDownload::setTimeoutSeconds(int seconds) {
    timeoutSeconds_ = std::max(seconds, 0);
}

DownloadOutcome CurlUrlDownload::download(const std::string& url, const ByteSink& sink,
                                          std::uint64_t maxBytes) {
    Transfer transfer{sink, maxBytes, std::chrono::seconds(timeoutSeconds_), interrupted_};

    requestHeaders_.reset(cache_.mustBypass(url));
    applyRequestOptions(easy_, url, requestHeaders_);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeoutSeconds_));
    // A drip of a byte now and then is as good as silence.
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT,
                     timeoutSeconds_ > 0 ? kLowSpeedBytesPerSecond : 0L);
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(timeoutSeconds_));
    const auto limit = std::min<std::uint64_t>(maxBytes, std::numeric_limits<curl_off_t>::max());
    curl_easy_setopt(easy_, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limit));

    CURLcode result = curl_easy_perform(easy_);
    if (!transfer.answered && !transfer.stalled && worthAFreshConnection(easy_, result)) {
        transfer.lastByte = Clock::now();
        curl_easy_setopt(easy_, CURLOPT_FRESH_CONNECT, 1L);
        result = curl_easy_perform(easy_);
        curl_easy_setopt(easy_, CURLOPT_FRESH_CONNECT, 0L);
    }

    DownloadOutcome outcome;
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    outcome.httpStatus = status;
    char* finalUrl = nullptr;
    if (curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &finalUrl) == CURLE_OK && finalUrl)
        outcome.finalUrl = finalUrl;
    char* contentType = nullptr;
    if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK && contentType)
        outcome.contentType = contentType;
    outcome.interrupted = transfer.stopped;
    outcome.written = !transfer.refused;
    outcome.transferred = result == CURLE_OK && framingProblem(transfer).empty();
    if (!outcome.transferred || !outcome.written) outcome.error = describe(easy_, transfer, result);
    return outcome;
}

}  // namespace velnoria
