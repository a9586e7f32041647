#include "platform/curl/curl_url_download.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "core/text.h"

namespace velnoria {

namespace {

using Clock = std::chrono::steady_clock;

// The state of one download, shared with libcurl's callbacks.
struct Transfer {
    const ByteSink& sink;
    std::uint64_t maxBytes;
    std::chrono::seconds timeout;
    std::uint64_t received = 0;
    Clock::time_point lastByte = Clock::now();
    bool answered = false;  // a byte of the answer (header or body) arrived
    bool refused = false;
    bool tooLong = false;
    bool stalled = false;
    bool badLength = false;  // the final answer's Content-Length is no plain number
};

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* state) {
    auto& t = *static_cast<Transfer*>(state);
    t.lastByte = Clock::now();
    t.answered = true;
    const std::string_view line(data, size * count);
    constexpr std::string_view kLengthName = "content-length:";
    // libcurl frames a body by whatever number stands at the start of Content-Length ("6x" is
    // 6), so an answer whose length the program would not trust cannot be taken as whole.
    if (startsWithNoCase(line, "http/")) {
        t.badLength = false;  // a new answer (after a redirect or an interim one)
    } else if (startsWithNoCase(line, kLengthName) &&
               !readContentLength(trim(line.substr(kLengthName.size()), " \t\r\n"))) {
        t.badLength = true;
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
    if (t.timeout.count() > 0 && Clock::now() - t.lastByte > t.timeout) {
        t.stalled = true;
        return 1;
    }
    return 0;
}

std::string describe(const Transfer& t, CURLcode result, const char* details) {
    if (t.refused) return "the received data could not be written";
    if (t.tooLong || result == CURLE_FILESIZE_EXCEEDED) {
        return "the answer is longer than " + std::to_string(t.maxBytes) + " bytes";
    }
    if (t.badLength && result == CURLE_OK) return "the answer's Content-Length is not a number";
    if (t.stalled || result == CURLE_OPERATION_TIMEDOUT) {
        return "no answer for " + std::to_string(t.timeout.count()) + " seconds";
    }
    return details[0] != '\0' ? details : curl_easy_strerror(result);
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

void CurlUrlDownload::setTimeoutSeconds(int seconds) {
    timeoutSeconds_ = std::max(seconds, 0);
}

DownloadOutcome CurlUrlDownload::download(const std::string& url, const ByteSink& sink,
                                          std::uint64_t maxBytes) {
    Transfer transfer{sink, maxBytes, std::chrono::seconds(timeoutSeconds_)};
    char details[CURL_ERROR_SIZE] = "";

    requestHeaders_.reset(cache_.mustBypass(url));
    applyRequestOptions(easy_, url, requestHeaders_);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, details);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeoutSeconds_));
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
    outcome.written = !transfer.refused;
    outcome.transferred = result == CURLE_OK && !transfer.badLength;
    if (!outcome.transferred || !outcome.written)
        outcome.error = describe(transfer, result, details);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, nullptr);
    return outcome;
}

}  // namespace velnoria
