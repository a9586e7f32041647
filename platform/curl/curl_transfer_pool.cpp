#include "platform/curl/curl_transfer_pool.h"

#include <algorithm>
#include <stdexcept>

namespace velnoria {

namespace {

// A longer gap between two drives means the caller was busy elsewhere (a paused job, a service
// page read meanwhile): that time is not the network's silence.
constexpr auto kAwayGap = std::chrono::milliseconds(500);
constexpr std::size_t kSpareHandles = 32;

}  // namespace

struct CurlTransferPool::Transfer {
    CurlTransferPool* pool = nullptr;
    Id id = 0;
    CURL* easy = nullptr;
    PoolListener* listener = nullptr;
    RequestHeaders requestHeaders;
    ResponseHeaderBlock headers;
    bool headersGiven = false;
    bool answered = false;  // a byte of the answer arrived
    bool retried = false;   // sent a second time, over a new connection
    bool endedByListener = false;
    std::string refusal;  // why the answer cannot be trusted, when it cannot
    StallWatch stall;
};

CurlTransferPool::CurlTransferPool(const CurlUrlCache& cache) : cache_(cache) {
    ensureCurlGlobalInit();
    multi_ = curl_multi_init();
    if (multi_ == nullptr) throw std::runtime_error("libcurl multi handle could not be created");
}

CurlTransferPool::~CurlTransferPool() {
    for (auto& [id, transfer] : transfers_) {
        curl_multi_remove_handle(multi_, transfer->easy);
        curl_easy_cleanup(transfer->easy);
    }
    for (CURL* easy : spare_) curl_easy_cleanup(easy);
    curl_multi_cleanup(multi_);
}

void CurlTransferPool::setTimeoutSeconds(int seconds) {
    timeoutSeconds_ = std::max(seconds, 0);
}

TransferPool::Id CurlTransferPool::start(const std::string& url, PoolListener& listener,
                                         Method method) {
    auto transfer = std::make_unique<Transfer>();
    transfer->pool = this;
    transfer->id = nextId_++;
    transfer->listener = &listener;
    if (!spare_.empty()) {
        transfer->easy = spare_.back();
        spare_.pop_back();
        curl_easy_reset(transfer->easy);
    } else {
        transfer->easy = curl_easy_init();
        if (transfer->easy == nullptr) throw std::runtime_error("libcurl handle not created");
    }
    CURL* easy = transfer->easy;
    applyCommonOptions(easy);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlTransferPool::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlTransferPool::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
    if (method == Method::Head) {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer.get());
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeoutSeconds_));
    transfer->requestHeaders.reset(cache_.mustBypass(url));
    applyRequestOptions(easy, url, transfer->requestHeaders);

    const Id id = transfer->id;
    if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
        spare_.push_back(easy);
        // Told at the next drive, as every other end.
        transfer->easy = nullptr;
    }
    transfers_.emplace(id, std::move(transfer));
    if (!lastDrive_) lastDrive_ = Clock::now();
    return id;
}

void CurlTransferPool::cancel(Id id) {
    const auto found = transfers_.find(id);
    if (found == transfers_.end()) return;
    Transfer& transfer = *found->second;
    if (transfer.easy != nullptr) {
        curl_multi_remove_handle(multi_, transfer.easy);
        // A removed request that had not ended took its connection with it.
        release(transfer.easy);
    }
    transfers_.erase(found);
}

void CurlTransferPool::release(CURL* easy) {
    if (spare_.size() < kSpareHandles) {
        spare_.push_back(easy);
    } else {
        curl_easy_cleanup(easy);
    }
}

std::size_t CurlTransferPool::onHeader(char* data, std::size_t size, std::size_t count,
                                       void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    const std::size_t length = size * count;
    transfer.answered = true;
    transfer.stall.received(length);
    if (transfer.headersGiven) return length;  // trailers of a chunked body
    switch (transfer.headers.add(std::string_view(data, length))) {
        case ResponseHeaderBlock::Step::Final:
            transfer.headersGiven = true;
            transfer.refusal = framingRefusal(transfer.headers.text());
            if (!transfer.refusal.empty()) return 0;
            if (!transfer.listener->onHeaders(transfer.headers.text())) {
                transfer.endedByListener = true;
                return 0;
            }
            break;
        case ResponseHeaderBlock::Step::TooLarge:
            transfer.refusal = "header block too large";
            return 0;
        case ResponseHeaderBlock::Step::More:
            break;
    }
    return length;
}

std::size_t CurlTransferPool::onBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    const std::size_t length = size * count;
    transfer.answered = true;
    transfer.stall.received(length);
    if (!transfer.headersGiven) {  // an answer without a header block of its own
        transfer.headersGiven = true;
        if (!transfer.listener->onHeaders(transfer.headers.text())) {
            transfer.endedByListener = true;
            return 0;
        }
    }
    if (!transfer.listener->onBody(data, length)) {
        transfer.endedByListener = true;
        return 0;
    }
    return length;
}

void CurlTransferPool::drive(std::chrono::milliseconds maxBlock) {
    const auto before = Clock::now();
    Clock::duration silence{};
    if (lastDrive_ && before - *lastDrive_ < kAwayGap) silence = before - *lastDrive_;
    lastDrive_ = before;

    int ready = 0;
    if (!transfers_.empty()) {
        curl_multi_poll(multi_, nullptr, 0, static_cast<int>(maxBlock.count()), &ready);
        const auto after = Clock::now();
        silence += after - before;
        lastDrive_ = after;
    }
    for (auto& [id, transfer] : transfers_) transfer->stall.waited(silence);

    int running = 0;
    curl_multi_perform(multi_, &running);
    collectFinished();

    // Transfers that could not even be started, and those silent too long.
    std::vector<std::pair<Id, int>> ended;
    for (auto& [id, transfer] : transfers_) {
        if (transfer->easy == nullptr) {
            ended.emplace_back(id, CURLE_FAILED_INIT);
        } else if (transfer->stall.timedOut(timeoutSeconds_)) {
            ended.emplace_back(id, CURLE_OPERATION_TIMEDOUT);
        }
    }
    for (const auto& [id, code] : ended) {
        const auto found = transfers_.find(id);
        if (found != transfers_.end()) finish(*found->second, code);
    }
}

void CurlTransferPool::collectFinished() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        Transfer* transfer = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
        if (transfer == nullptr) continue;
        const CURLcode result = message->data.result;
        if (result != CURLE_OK && !transfer->answered && !transfer->retried &&
            worthAFreshConnection(transfer->easy, result)) {
            // Sent over a kept-alive connection the server had closed meanwhile: once more.
            transfer->retried = true;
            curl_multi_remove_handle(multi_, transfer->easy);
            curl_easy_setopt(transfer->easy, CURLOPT_FRESH_CONNECT, 1L);
            if (curl_multi_add_handle(multi_, transfer->easy) == CURLM_OK) continue;
            transfer->easy = nullptr;
            continue;
        }
        if (!transfer->refusal.empty()) {
            // Nothing of an answer that cannot be framed is trusted.
            finish(*transfer, CURLE_WEIRD_SERVER_REPLY, transfer->refusal);
            continue;
        }
        if (transfer->endedByListener) {
            finish(*transfer, 0);
            continue;
        }
        const bool ended =
            result == CURLE_OK || (result == CURLE_PARTIAL_FILE && transfer->headersGiven);
        if (ended && !transfer->headersGiven) {
            // The connection closed inside the header block: nothing says the answer is whole.
            finish(*transfer, CURLE_WEIRD_SERVER_REPLY, "invalid answer: header block cut short");
            continue;
        }
        finish(*transfer, ended ? 0 : result);
    }
}

void CurlTransferPool::finish(Transfer& transfer, int code, std::string reason) {
    const Id id = transfer.id;
    PoolListener* listener = transfer.listener;
    if (code != 0 && reason.empty()) {
        reason = transfer.easy != nullptr
                     ? failureText(transfer.easy, static_cast<CURLcode>(code))
                     : std::string(curl_easy_strerror(static_cast<CURLcode>(code)));
    }
    if (transfer.easy != nullptr) {
        curl_multi_remove_handle(multi_, transfer.easy);
        release(transfer.easy);
        transfer.easy = nullptr;
    }
    transfers_.erase(id);
    listener->onEnd(code, reason);
}

}  // namespace velnoria
