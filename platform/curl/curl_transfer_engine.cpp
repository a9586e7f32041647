#include "platform/curl/curl_transfer_engine.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "core/program_identity.h"
#include "core/text.h"
#include "platform/curl/response_header_block.h"
#include "platform/curl/url_resolution.h"
#include "platform/referer.h"

namespace velnoria {

namespace {

// A longer gap between two drives means the caller was busy elsewhere (a paused job, a dialog):
// that time is not the network's silence.
constexpr auto kAwayGap = std::chrono::milliseconds(500);
constexpr std::size_t kSpareHandles = 32;
// The body of a redirect is read and dropped, so its connection can serve the next hop; one
// longer than this is cut off (and its connection with it).
constexpr std::uint64_t kMaxRedirectBody = 64 * 1024;
// 9999-12-31: later than any session lasts.
constexpr std::int64_t kSessionEnd = 253402300799;
// Connections kept alive between transfers.
constexpr long kKeptConnections = 64;

// Whether text could end a header line early or hide a second one in it.
bool breaksAHeaderLine(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Why a request cannot be sent as it stands; "" when it can.
std::string requestRefusal(const TransferRequest& request) {
    for (const auto& line : request.headers) {
        if (breaksAHeaderLine(line)) return "invalid request: a header line breaks";
    }
    if (breaksAHeaderLine(request.hostCookies) || breaksAHeaderLine(request.ifRange)) {
        return "invalid request: a header line breaks";
    }
    return {};
}

// The host an address names, in lower case; "" when it names none.
std::string hostOf(const std::string& url) {
    std::string host;
    CURLU* parsed = curl_url();
    char* part = nullptr;
    if (parsed != nullptr && curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_HOST, &part, 0) == CURLUE_OK) {
        host = part;
        for (char& c : host) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
    }
    curl_free(part);
    curl_url_cleanup(parsed);
    return host;
}

// The answers a browser follows to their Location.
bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Why the final answer's header block cannot frame its body ("" when it can): two lengths that
// differ, a length that is not a plain number (libcurl would read "6x" as 6), a length past the
// bound the caller set.
std::string answerRefusal(std::string_view block, std::uint64_t maxBodyBytes) {
    const std::string differing = framingRefusal(std::string(block));
    if (!differing.empty()) return differing;
    std::string_view rest = block.substr(std::min(block.find('\n'), block.size()));
    while (!rest.empty()) {
        rest.remove_prefix(1);
        const std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(line.size());
        constexpr std::string_view kName = "content-length:";
        if (!startsWithNoCase(line, kName)) continue;
        const std::string_view value = trim(line.substr(kName.size()), " \t\r\n");
        const auto length = readContentLength(value);
        if (length && (maxBodyBytes == 0 || static_cast<std::uint64_t>(*length) <= maxBodyBytes)) {
            continue;
        }
        if (!value.empty() && value.find_first_not_of("0123456789") == std::string_view::npos) {
            // A plain number, only too large for the caller or for any file the program takes.
            const auto largest = static_cast<std::uint64_t>(INT32_MAX);
            return "longer than " +
                   byteCountText(maxBodyBytes == 0 ? largest : std::min(maxBodyBytes, largest));
        }
        return "invalid answer: Content-Length is not a number";
    }
    return {};
}

// One cookie as a line of a Netscape cookies file, as libcurl's jar reads it; "" for a cookie
// no such line can hold.
std::string netscapeLine(const Cookie& cookie) {
    const auto fits = [](const std::string& field) {
        return field.find_first_of(std::string_view("\t\r\n\0", 4)) == std::string::npos;
    };
    if (cookie.domain.empty() || cookie.name.empty() || !fits(cookie.domain) ||
        !fits(cookie.path) || !fits(cookie.name) || !fits(cookie.value)) {
        return {};
    }
    std::string line = cookie.httpOnly ? "#HttpOnly_" : "";
    line += (cookie.includeSubdomains ? "." : "") + cookie.domain;
    line += cookie.includeSubdomains ? "\tTRUE\t" : "\tFALSE\t";
    line += (cookie.path.empty() ? std::string("/") : cookie.path);
    line += cookie.secure ? "\tTRUE\t" : "\tFALSE\t";
    // The jar is never written, so a session cookie may as well say when the session ends at the
    // latest: libcurl looks through every cookie for expired ones whenever it adds or sends one
    // unless all of them have a date, which makes loading thousands of them quadratic.
    const std::int64_t expires = cookie.expires != 0 ? cookie.expires : kSessionEnd;
    line += std::to_string(expires) + "\t" + cookie.name + "\t" + cookie.value;
    return line;
}

}  // namespace

struct CurlTransferEngine::Transfer {
    // Where the answer to the hop in hand stands.
    enum class Stage { AwaitingHeaders, Redirected, Body };

    Id id = 0;
    TransferListener* listener = nullptr;
    TransferRequest request;
    int timeoutSeconds = 0;
    Clock::time_point startedAt;
    CURL* easy = nullptr;
    bool attached = false;   // in the multi handle
    std::string unsendable;  // why the request was never sent

    // The hop in hand: the first request, or one a redirect led to.
    std::string hopUrl;
    TransferRequest::Method hopMethod = TransferRequest::Method::Get;
    int redirects = 0;
    bool onOwnHost = true;  // no hop has left the request's host yet
    RequestHeaders hopHeaders;
    ResponseHeaderBlock headers{ResponseHeaderBlock::Redirects::FollowedByCaller};
    Stage stage = Stage::AwaitingHeaders;
    std::string redirectTo;
    std::uint64_t redirectBodyBytes = 0;
    bool answered = false;  // a byte of the hop's answer arrived
    bool retried = false;   // the hop was sent a second time, over a new connection

    // The transfer as a whole.
    bool endedByListener = false;
    std::string refusal;  // why the answer cannot be taken, when it cannot
    std::uint64_t bodyBytes = 0;
    StallWatch stall;
};

CurlTransferEngine::CurlTransferEngine(const CurlUrlCache& cache)
    : cache_(cache), userAgent_(kUserAgent) {
    ensureCurlGlobalInit();
    multi_ = curl_multi_init();
    share_ = curl_share_init();
    jar_ = curl_easy_init();
    if (multi_ == nullptr || share_ == nullptr || jar_ == nullptr) {
        curl_easy_cleanup(jar_);
        curl_share_cleanup(share_);
        curl_multi_cleanup(multi_);
        throw std::runtime_error("libcurl handles could not be created");
    }
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, kKeptConnections);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_easy_setopt(jar_, CURLOPT_SHARE, share_);
}

CurlTransferEngine::~CurlTransferEngine() {
    for (auto& [id, transfer] : transfers_) {
        detach(*transfer);
        curl_easy_cleanup(transfer->easy);
    }
    for (CURL* easy : spare_) curl_easy_cleanup(easy);
    curl_multi_cleanup(multi_);
    // The share goes last: no handle may still be attached to it.
    curl_easy_cleanup(jar_);
    curl_share_cleanup(share_);
}

void CurlTransferEngine::setTimeoutSeconds(int seconds) {
    timeoutSeconds_ = std::max(seconds, 0);
}

void CurlTransferEngine::setUserAgent(const std::string& userAgent) {
    if (!userAgent.empty() && !breaksAHeaderLine(userAgent)) userAgent_ = userAgent;
}

void CurlTransferEngine::replaceCookies(const std::vector<Cookie>& cookies) {
    // libcurl's jar drops cookies that have expired by itself.
    curl_easy_setopt(jar_, CURLOPT_COOKIELIST, "ALL");
    for (const Cookie& cookie : cookies) {
        const std::string line = netscapeLine(cookie);
        if (!line.empty()) curl_easy_setopt(jar_, CURLOPT_COOKIELIST, line.c_str());
    }
}

TransferEngine::Id CurlTransferEngine::start(const TransferRequest& request,
                                             TransferListener& listener) {
    auto transfer = std::make_unique<Transfer>();
    transfer->id = nextId_++;
    transfer->listener = &listener;
    transfer->request = request;
    transfer->timeoutSeconds = timeoutSeconds_;
    transfer->startedAt = Clock::now();
    transfer->hopUrl = request.url;
    transfer->hopMethod = request.method;
    // A refused request is told at the next drive, as every other end.
    transfer->unsendable = requestRefusal(request);
    if (transfer->unsendable.empty()) {
        transfer->easy = takeHandle();
        if (!sendHop(*transfer)) transfer->unsendable = "the request could not be started";
    }
    const Id id = transfer->id;
    transfers_.emplace(id, std::move(transfer));
    return id;
}

bool CurlTransferEngine::sendHop(Transfer& transfer) {
    CURL* easy = transfer.easy;
    const TransferRequest& request = transfer.request;
    // Every option a hop sets is set for each hop, so nothing of a handle's last request stays.
    curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent_.c_str());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &transfer);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, transfer.retried ? 1L : 0L);

    transfer.hopHeaders.reset(cache_.mustBypass(request.url));
    switch (transfer.hopMethod) {
        case TransferRequest::Method::Head:
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
            break;
        case TransferRequest::Method::Post:
            // libcurl sends it as application/x-www-form-urlencoded, and at once.
            curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.formBody.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.formBody.data());
            transfer.hopHeaders.add("Expect:");
            break;
        case TransferRequest::Method::Get:
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
            break;
    }
    const std::string referer = refererToSend(request.referringPage, transfer.hopUrl);
    curl_easy_setopt(easy, CURLOPT_REFERER, referer.empty() ? nullptr : referer.c_str());
    // libcurl puts them in the one Cookie line, after the jar's.
    const bool hostCookies = transfer.onOwnHost && !request.hostCookies.empty();
    curl_easy_setopt(easy, CURLOPT_COOKIE, hostCookies ? request.hostCookies.c_str() : nullptr);
    const std::string range =
        request.resumeFrom > 0 ? std::to_string(request.resumeFrom) + "-" : std::string();
    curl_easy_setopt(easy, CURLOPT_RANGE, range.empty() ? nullptr : range.c_str());
    if (!range.empty() && !request.ifRange.empty()) {
        transfer.hopHeaders.add("If-Range: " + request.ifRange);
    }
    for (const auto& line : request.headers) transfer.hopHeaders.add(line);
    applyRequestOptions(easy, transfer.hopUrl, transfer.hopHeaders);

    transfer.headers.clear();
    transfer.stage = Transfer::Stage::AwaitingHeaders;
    transfer.redirectTo.clear();
    transfer.redirectBodyBytes = 0;
    transfer.answered = false;
    if (curl_multi_add_handle(multi_, easy) != CURLM_OK) return false;
    transfer.attached = true;
    return true;
}

void CurlTransferEngine::cancel(Id id) {
    const auto found = transfers_.find(id);
    if (found == transfers_.end()) return;
    // A request removed before its end takes its connection with it.
    detach(*found->second);
    giveBack(found->second->easy);
    transfers_.erase(found);
}

std::size_t CurlTransferEngine::onHeader(char* data, std::size_t size, std::size_t count,
                                         void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    const std::size_t length = size * count;
    transfer.answered = true;
    transfer.stall.received(length);
    // Trailers of a chunked body, or of a redirect's.
    if (transfer.stage != Transfer::Stage::AwaitingHeaders) return length;
    // Returning 0 makes libcurl end the transfer with a write error; refusal says why.
    switch (transfer.headers.add(std::string_view(data, length))) {
        case ResponseHeaderBlock::Step::More:
            return length;
        case ResponseHeaderBlock::Step::TooLarge:
            transfer.refusal = "header block too large";
            return 0;
        case ResponseHeaderBlock::Step::Final:
            break;
    }
    const std::string& block = transfer.headers.text();
    if (isRedirect(statusCode(block))) {
        const std::string location = headerValue(block, "Location");
        if (!location.empty()) {
            transfer.stage = Transfer::Stage::Redirected;
            transfer.redirectTo = resolveUrl(transfer.hopUrl, location);
            return length;
        }
    }
    transfer.stage = Transfer::Stage::Body;
    const bool bodyComes = transfer.hopMethod != TransferRequest::Method::Head;
    transfer.refusal = answerRefusal(block, bodyComes ? transfer.request.maxBodyBytes : 0);
    if (!transfer.refusal.empty()) return 0;
    if (!transfer.listener->onHeaders(block)) {
        transfer.endedByListener = true;
        return 0;
    }
    return length;
}

std::size_t CurlTransferEngine::onBody(char* data, std::size_t size, std::size_t count,
                                       void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    const std::size_t length = size * count;
    transfer.answered = true;
    transfer.stall.received(length);
    if (transfer.stage == Transfer::Stage::Redirected) {
        transfer.redirectBodyBytes += length;
        return transfer.redirectBodyBytes > kMaxRedirectBody ? 0 : length;
    }
    if (transfer.stage == Transfer::Stage::AwaitingHeaders) {
        // An answer without a header block of its own.
        transfer.stage = Transfer::Stage::Body;
        if (!transfer.listener->onHeaders(transfer.headers.text())) {
            transfer.endedByListener = true;
            return 0;
        }
    }
    const std::uint64_t bound = transfer.request.maxBodyBytes;
    if (bound > 0 && length > bound - transfer.bodyBytes) {
        transfer.refusal = "longer than " + byteCountText(bound);
        return 0;
    }
    transfer.bodyBytes += length;
    if (!transfer.listener->onBody(data, length)) {
        transfer.endedByListener = true;
        return 0;
    }
    return length;
}

void CurlTransferEngine::drive(std::chrono::milliseconds maxBlock) {
    const auto before = Clock::now();
    // Silence counts from the last drive, unless the caller was away meanwhile.
    const auto countFrom = lastDrive_ && before - *lastDrive_ < kAwayGap ? *lastDrive_ : before;
    lastDrive_ = before;
    endUnsent();
    if (transfers_.empty()) return;

    int ready = 0;
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(std::max<long>(maxBlock.count(), 0)),
                    &ready);
    const auto after = Clock::now();
    lastDrive_ = after;
    countSilence(countFrom, after);

    int running = 0;
    curl_multi_perform(multi_, &running);
    collectFinished();
    endStalled();
}

void CurlTransferEngine::countSilence(Clock::time_point from, Clock::time_point to) {
    for (auto& [id, transfer] : transfers_) {
        const auto since = std::max(from, transfer->startedAt);
        if (transfer->attached && to > since) transfer->stall.waited(to - since);
    }
}

void CurlTransferEngine::collectFinished() {
    // Gathered first: settling one transfer may start or cancel others.
    std::vector<std::pair<Id, CURLcode>> done;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        Transfer* transfer = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
        if (transfer != nullptr) done.emplace_back(transfer->id, message->data.result);
    }
    for (const auto& [id, result] : done) {
        const auto found = transfers_.find(id);
        if (found != transfers_.end()) settle(*found->second, result);
    }
}

void CurlTransferEngine::settle(Transfer& transfer, CURLcode result) {
    detach(transfer);  // an answer read to its end leaves its connection for the next request
    if (!transfer.refusal.empty()) {
        // Nothing of an answer that cannot be framed is trusted.
        finish(transfer, CURLE_WEIRD_SERVER_REPLY, transfer.refusal);
        return;
    }
    if (transfer.endedByListener) {
        finish(transfer, 0, {});
        return;
    }
    if (transfer.stage == Transfer::Stage::Redirected &&
        (result == CURLE_OK || result == CURLE_PARTIAL_FILE ||
         transfer.redirectBodyBytes > kMaxRedirectBody)) {
        followRedirect(transfer);
        return;
    }
    if (result != CURLE_OK && !transfer.answered && !transfer.retried &&
        worthAFreshConnection(transfer.easy, result)) {
        // Sent over a kept-alive connection the server had closed meanwhile: once more.
        transfer.retried = true;
        if (!sendHop(transfer)) finish(transfer, CURLE_FAILED_INIT, {});
        return;
    }
    const bool body = transfer.stage == Transfer::Stage::Body;
    const bool ended = result == CURLE_OK || (result == CURLE_PARTIAL_FILE && body);
    if (ended && !body) {
        // The connection closed inside the header block: nothing says the answer is whole.
        finish(transfer, CURLE_WEIRD_SERVER_REPLY, "invalid answer: header block cut short");
    } else if (ended) {
        finish(transfer, 0, {}, result == CURLE_PARTIAL_FILE);
    } else {
        finish(transfer, result, {});
    }
}

void CurlTransferEngine::followRedirect(Transfer& transfer) {
    if (transfer.redirects >= kMaxRedirects) {
        finish(transfer, CURLE_TOO_MANY_REDIRECTS, {});
        return;
    }
    ++transfer.redirects;
    // As browsers do: a 303, and a 301 or 302 after a POST, go on with GET.
    const int status = statusCode(transfer.headers.text());
    if (transfer.hopMethod == TransferRequest::Method::Post && status != 307 && status != 308) {
        transfer.hopMethod = TransferRequest::Method::Get;
    } else if (status == 303 && transfer.hopMethod != TransferRequest::Method::Head) {
        transfer.hopMethod = TransferRequest::Method::Get;
    }
    transfer.hopUrl = transfer.redirectTo;
    if (transfer.onOwnHost) {
        const std::string host = hostOf(transfer.hopUrl);
        transfer.onOwnHost = !host.empty() && host == hostOf(transfer.request.url);
    }
    transfer.retried = false;
    if (!sendHop(transfer)) finish(transfer, CURLE_FAILED_INIT, {});
}

void CurlTransferEngine::endUnsent() {
    std::vector<Id> unsent;
    for (const auto& [id, transfer] : transfers_) {
        if (!transfer->attached && !transfer->unsendable.empty()) unsent.push_back(id);
    }
    for (const Id id : unsent) {
        const auto found = transfers_.find(id);
        if (found == transfers_.end()) continue;
        Transfer& transfer = *found->second;
        finish(transfer, CURLE_FAILED_INIT, transfer.unsendable);
    }
}

void CurlTransferEngine::endStalled() {
    std::vector<Id> stalled;
    for (auto& [id, transfer] : transfers_) {
        if (transfer->attached && transfer->stall.timedOut(transfer->timeoutSeconds)) {
            stalled.push_back(id);
        }
    }
    for (const Id id : stalled) {
        const auto found = transfers_.find(id);
        if (found != transfers_.end()) finish(*found->second, CURLE_OPERATION_TIMEDOUT, {});
    }
}

void CurlTransferEngine::finish(Transfer& transfer, int code, std::string reason, bool cutShort) {
    TransferEnd end;
    end.failureCode = code;
    end.endedByListener = transfer.endedByListener;
    end.bodyBytes = transfer.bodyBytes;
    end.cutShort = cutShort;
    end.finalUrl = transfer.hopUrl;
    if (transfer.easy != nullptr && transfer.unsendable.empty()) {
        curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &end.httpStatus);
        char* answered = nullptr;
        if (curl_easy_getinfo(transfer.easy, CURLINFO_EFFECTIVE_URL, &answered) == CURLE_OK &&
            answered != nullptr) {
            end.finalUrl = answered;
        }
        if (code != 0 && reason.empty()) {
            reason = failureText(transfer.easy, static_cast<CURLcode>(code));
        }
    }
    if (code != 0 && reason.empty()) reason = curl_easy_strerror(static_cast<CURLcode>(code));
    end.failureReason = std::move(reason);

    detach(transfer);
    giveBack(transfer.easy);
    TransferListener& listener = *transfer.listener;
    const Id id = transfer.id;
    transfers_.erase(id);  // transfer is gone from here on
    listener.onEnd(end);
}

void CurlTransferEngine::detach(Transfer& transfer) {
    if (!transfer.attached) return;
    curl_multi_remove_handle(multi_, transfer.easy);
    transfer.attached = false;
}

CURL* CurlTransferEngine::takeHandle() {
    if (!spare_.empty()) {
        CURL* easy = spare_.back();
        spare_.pop_back();
        return easy;
    }
    CURL* easy = curl_easy_init();
    if (easy == nullptr) throw std::runtime_error("libcurl handle could not be created");
    // What every request of the engine shares, set once for the handle's life.
    applyCommonOptions(easy);
    // Each hop gets its own Referer and cookies, so redirects are followed in followRedirect.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_SHARE, share_);
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // the jar's cookies go out, answers add
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlTransferEngine::onHeader);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlTransferEngine::onBody);
    return easy;
}

void CurlTransferEngine::giveBack(CURL* easy) {
    if (easy == nullptr) return;
    if (spare_.size() < kSpareHandles) {
        spare_.push_back(easy);
    } else {
        curl_easy_cleanup(easy);
    }
}

}  // namespace velnoria
