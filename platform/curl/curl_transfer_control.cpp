#include "platform/curl/curl_transfer_control.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "core/text.h"

namespace velnoria {

namespace {

// What the body may fill before the caller has first said how large its pieces are.
constexpr std::size_t kFirstPiece = 16 * 1024;
constexpr int kPollMilliseconds = 10;
// A longer gap between two waits means the caller was busy elsewhere (a paused job, a dialog):
// that time is not the network's silence.
constexpr auto kAwayGap = std::chrono::milliseconds(500);

}  // namespace

CurlTransferControl::CurlTransferControl(EventLoop& eventLoop, const CurlUrlCache& cache)
    : eventLoop_(eventLoop), cache_(cache), wanted_(kFirstPiece) {
    ensureCurlGlobalInit();
    multi_ = curl_multi_init();
    easy_ = curl_easy_init();
    if (multi_ == nullptr || easy_ == nullptr) {
        curl_easy_cleanup(easy_);
        curl_multi_cleanup(multi_);
        throw std::runtime_error("libcurl handles could not be created");
    }
    applyCommonOptions(easy_);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlTransferControl::onHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTransferControl::onBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
}

CurlTransferControl::~CurlTransferControl() {
    detach();
    curl_easy_cleanup(easy_);
    curl_multi_cleanup(multi_);
}

void CurlTransferControl::setTimeoutSeconds(int seconds) {
    timeoutSeconds_ = std::max(seconds, 0);
}

void CurlTransferControl::start(const std::string& url, Method method) {
    release();
    state_ = State::AwaitingHeaders;
    code_ = 0;
    reason_.clear();
    refusal_.clear();
    headers_.clear();
    finalHeaders_.clear();
    if (spill_.capacity() > 2 * (wanted_ + kNetworkReadBytes)) std::string().swap(spill_);
    spill_.clear();
    spillPos_ = 0;
    maxBuffered_ = 0;
    answered_ = false;
    retried_ = false;
    stall_.reset();
    lastDrive_ = Clock::now();

    requestHeaders_.reset(cache_.mustBypass(url));
    applyRequestOptions(easy_, url, requestHeaders_);
    curl_easy_setopt(easy_, CURLOPT_FRESH_CONNECT, 0L);
    if (method == Method::Head) {
        curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
    }
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
        fail(CURLE_FAILED_INIT);
        return;
    }
    attached_ = true;
}

bool CurlTransferControl::stillExecuting() {
    if (state_ != State::AwaitingHeaders) return false;
    drive();
    return state_ == State::AwaitingHeaders;
}

int CurlTransferControl::failureCode() const {
    return code_;
}

std::string CurlTransferControl::failureReason() const {
    return reason_;
}

std::string CurlTransferControl::header(const std::string& name) const {
    return headerValue(finalHeaders_, name);
}

std::string CurlTransferControl::headerBlock() const {
    return finalHeaders_;
}

void CurlTransferControl::readPiece(std::size_t count, std::string& piece) {
    piece.clear();
    if (count == 0) return;
    wanted_ = count;
    takeSpill(count, piece);
    const auto enough = [&] {
        return piece.size() >= count || (state_ != State::AwaitingHeaders && state_ != State::Body);
    };
    if (enough()) return;
    piece.reserve(std::min<std::size_t>(count, 1 << 20));
    // From here libcurl's callback writes into the piece itself, until this call is left
    // however it is left.
    struct Filling {
        CurlTransferControl& control;
        ~Filling() { control.piece_ = nullptr; }
    } filling{*this};
    piece_ = &piece;
    pieceWanted_ = count;
    while (!enough()) {
        resume();
        if (enough()) break;
        drive();
        if (enough()) break;
        eventLoop_.yieldOnce();
        if (interrupted_ && interrupted_()) {
            cancel();
            break;
        }
    }
}

void CurlTransferControl::takeSpill(std::size_t count, std::string& piece) {
    if (spilled() == 0) return;
    if (spillPos_ == 0 && spill_.size() <= count) {
        // The spill becomes the piece, and the piece's storage the next spill: no byte moves.
        piece.swap(spill_);
        spill_.clear();
        return;
    }
    // Only when the caller asks for less than it asked for before.
    const std::size_t taken = std::min(count, spilled());
    piece.assign(spill_, spillPos_, taken);
    spillPos_ += taken;
    if (spilled() == 0) {
        spill_.clear();
        spillPos_ = 0;
    }
}

void CurlTransferControl::cancel() {
    release();
    state_ = State::Idle;
    spill_.clear();
    spillPos_ = 0;
}

void CurlTransferControl::setInterruption(std::function<bool()> interrupted) {
    interrupted_ = std::move(interrupted);
}

void CurlTransferControl::release() {
    // The caller usually stops once it holds Content-Length bytes, a moment before libcurl has
    // marked the request done. Letting it finish keeps the connection for the next request.
    if (attached_ && state_ == State::Body && allBytesArrived()) {
        state_ = State::Idle;  // onBody discards from here on
        resume();
        int running = 0;
        curl_multi_perform(multi_, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) detach();
        }
    }
    detach();
}

bool CurlTransferControl::allBytesArrived() const {
    curl_off_t announced = -1;
    curl_off_t arrived = 0;
    curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    curl_easy_getinfo(easy_, CURLINFO_SIZE_DOWNLOAD_T, &arrived);
    return announced >= 0 && arrived >= announced;
}

std::size_t CurlTransferControl::onHeader(char* data, std::size_t size, std::size_t count,
                                          void* self) {
    auto& me = *static_cast<CurlTransferControl*>(self);
    const std::size_t length = size * count;
    me.answered_ = true;
    me.stall_.received(length);
    if (me.state_ != State::AwaitingHeaders) return length;  // trailers of a chunked body
    // Returning 0 makes libcurl end the request with a write error; refusal_ says why.
    switch (me.headers_.add(std::string_view(data, length))) {
        case ResponseHeaderBlock::Step::Final:
            me.finalHeaders_ = me.headers_.text();
            me.state_ = State::Body;
            me.refusal_ = framingRefusal(me.finalHeaders_);
            if (!me.refusal_.empty()) return 0;
            break;
        case ResponseHeaderBlock::Step::TooLarge:
            me.refusal_ = "header block too large";
            return 0;
        case ResponseHeaderBlock::Step::More:
            break;
    }
    return length;
}

std::size_t CurlTransferControl::onBody(char* data, std::size_t size, std::size_t count,
                                        void* self) {
    auto& me = *static_cast<CurlTransferControl*>(self);
    const std::size_t length = size * count;
    me.answered_ = true;
    me.stall_.received(length);
    if (me.state_ == State::Idle) return length;  // what is left of a cancelled request
    if (me.state_ == State::AwaitingHeaders) {
        me.finalHeaders_ = me.headers_.text();
        me.state_ = State::Body;
    }
    std::size_t taken = 0;
    if (me.piece_ != nullptr && me.piece_->size() < me.pieceWanted_) {
        taken = std::min(length, me.pieceWanted_ - me.piece_->size());
        me.piece_->append(data, taken);
        if (taken == length) {
            me.noteHeld();
            return length;
        }
    }
    // The rest waits in the spill, which the next piece takes over whole. The spill was emptied
    // into the piece before the piece began to fill, so a remainder always finds it empty.
    const std::size_t rest = length - taken;
    if (taken == 0 && (me.spillPos_ != 0 || me.spill_.size() + rest > me.wanted_)) {
        me.paused_ = true;
        return CURL_WRITEFUNC_PAUSE;  // libcurl keeps this data and offers it again on resume
    }
    me.spill_.append(data + taken, rest);
    me.noteHeld();
    return length;
}

void CurlTransferControl::noteHeld() {
    const std::size_t filling = piece_ != nullptr ? piece_->size() : 0;
    maxBuffered_ = std::max(maxBuffered_, filling + spilled());
}

void CurlTransferControl::drive() {
    const auto now = Clock::now();
    if (lastDrive_ && !paused_ && now - *lastDrive_ < kAwayGap) {
        stall_.waited(now - *lastDrive_);
    }
    lastDrive_ = now;
    if (!attached_) {  // nothing can arrive any more; never wait for it
        if (state_ == State::AwaitingHeaders || state_ == State::Body) state_ = State::Ended;
        return;
    }

    int ready = 0;
    curl_multi_poll(multi_, nullptr, 0, kPollMilliseconds, &ready);
    int running = 0;
    curl_multi_perform(multi_, &running);
    collectFinished();
    checkStall();
}

void CurlTransferControl::collectFinished() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE || message->easy_handle != easy_) continue;
        const CURLcode result = message->data.result;
        detach();  // a request that ended cleanly gives its connection back for the next one
        // A body cut short by a clean close just ends; the caller's length check notices.
        const bool ended =
            result == CURLE_OK || (result == CURLE_PARTIAL_FILE && state_ == State::Body);
        if (!refusal_.empty()) {
            // Nothing of an answer that cannot be framed is trusted, its headers included.
            finalHeaders_.clear();
            fail(result, refusal_);
        } else if (!ended) {
            if (!retryOnFreshConnection(result)) fail(result);
        } else if (state_ == State::AwaitingHeaders) {
            // The connection closed inside the header block: nothing says the answer is whole.
            fail(CURLE_WEIRD_SERVER_REPLY, "invalid answer: header block cut short");
        } else if (state_ != State::Idle) {
            state_ = State::Ended;
        }
    }
}

void CurlTransferControl::checkStall() {
    if (!attached_ || paused_) return;
    if (stall_.timedOut(timeoutSeconds_)) fail(CURLE_OPERATION_TIMEDOUT);
}

bool CurlTransferControl::retryOnFreshConnection(CURLcode result) {
    if (retried_ || answered_ || state_ != State::AwaitingHeaders ||
        !worthAFreshConnection(easy_, result)) {
        return false;
    }
    retried_ = true;
    curl_easy_setopt(easy_, CURLOPT_FRESH_CONNECT, 1L);
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) return false;
    attached_ = true;
    stall_.reset();
    return true;
}

void CurlTransferControl::fail(CURLcode code, std::string reason) {
    reason_ = reason.empty() ? failureText(easy_, code) : std::move(reason);
    detach();
    code_ = code;
    state_ = State::Ended;
}

void CurlTransferControl::detach() {
    if (!attached_) return;
    if (paused_) {
        // Unpause before letting go, so the handle starts the next request unpaused; what
        // libcurl still holds of this body is discarded by onBody.
        state_ = State::Idle;
        paused_ = false;
        curl_easy_pause(easy_, CURLPAUSE_CONT);
    }
    // Removing a request that has not ended closes its connection rather than reusing it.
    curl_multi_remove_handle(multi_, easy_);
    attached_ = false;
}

void CurlTransferControl::resume() {
    if (!paused_ || !attached_) return;
    paused_ = false;
    lastDrive_ = Clock::now();  // the time spent paused is ours, not the network's
    curl_easy_pause(easy_, CURLPAUSE_CONT);
}

}  // namespace velnoria
