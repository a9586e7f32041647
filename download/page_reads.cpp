#include "download/page_reads.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/temporary_file.h"
#include "core/text.h"
#include "download/rules/page_search.h"

namespace velnoria {

namespace {

// Whether the answer's length, when it has one, is a plain number a file may have.
bool lengthIsReadable(const std::string& headerBlock) {
    const std::string length = headerValue(headerBlock, "Content-Length");
    return length.empty() || readContentLength(length).has_value();
}

}  // namespace

// One page asked for: its body goes into its own unnamed file as it comes.
class PageReads::Pending : public TransferListener {
  public:
    Pending(PageReads& owner, TransferRequest request, FollowUp then)
        : owner_(owner),
          key_(keyOf(request)),
          request_(std::move(request)),
          then_(std::move(then)) {}

    ~Pending() override {
        if (ticket_ != 0) owner_.job_.transferSlots->cancel(ticket_);
    }

    const std::string& key() const { return key_; }
    bool done() const { return done_; }
    PageRead take() { return std::move(result_); }

    void begin() {
        if (request_.method != TransferRequest::Method::Head) {
            std::string error;
            result_.body = unnamedTemporaryFile(error);
            if (!result_.body.valid()) {
                result_.error = "no scratch file: " + error;
                done_ = true;
                return;
            }
        }
        request_.maxBodyBytes = kMaxPageBytes;
        ticket_ = owner_.job_.transferSlots->request(request_, *this);
    }

    bool onHeaders(const std::string& headerBlock) override {
        result_.headerBlock = headerBlock;
        return true;
    }

    bool onBody(const char* data, std::size_t size) override {
        if (writeAll(result_.body.get(), std::string_view(data, size))) return true;
        writeError_ = errno;
        return false;
    }

    void onEnd(const TransferEnd& end) override {
        ticket_ = 0;
        done_ = true;
        result_.arrivedAt = std::chrono::steady_clock::now();
        result_.httpStatus = end.httpStatus;
        result_.finalUrl = end.finalUrl.empty() ? request_.url : end.finalUrl;
        if (writeError_ != 0) {
            result_.error = "no scratch file: " + std::string(std::strerror(writeError_));
        } else if (end.failureCode != 0) {
            result_.error = end.failureReason.empty() ? "the transfer failed" : end.failureReason;
        } else if (end.cutShort) {
            result_.error = "connection closed early";
        } else if (!lengthIsReadable(result_.headerBlock)) {
            // A header answer has no body to frame, but a length no file may have makes it
            // no answer to trust either.
            result_.error = "invalid answer: Content-Length is not a number";
        } else {
            result_.transferred = true;
        }
        if (result_.body.valid() && ::lseek(result_.body.get(), 0, SEEK_SET) != 0) {
            result_.transferred = false;
            result_.error = "no scratch file: " + std::string(std::strerror(errno));
        }
        // What the rule will ask for next is asked for now, while the walk is elsewhere.
        if (then_ && result_.transferred) {
            if (std::optional<TransferRequest> next = then_(result_)) {
                if (result_.body.valid()) ::lseek(result_.body.get(), 0, SEEK_SET);
                owner_.prefetch(*next);
            }
        }
    }

  private:
    PageReads& owner_;
    std::string key_;
    TransferRequest request_;
    FollowUp then_;
    TransferSlots::Ticket ticket_ = 0;
    PageRead result_;
    int writeError_ = 0;
    bool done_ = false;
};

PageReads::PageReads(JobContext& job, std::size_t keepAhead) : job_(job), keepAhead_(keepAhead) {}

PageReads::~PageReads() {
    cancelAll();
}

std::string PageReads::keyOf(const TransferRequest& request) {
    std::string key = std::to_string(static_cast<int>(request.method)) + ' ' + request.url + '\n' +
                      request.formBody + '\n' + request.referringPage + '\n' + request.hostCookies;
    for (const std::string& header : request.headers) key += '\n' + header;
    return key;
}

bool PageReads::hasRoomAhead() const {
    return pending_.size() < keepAhead_;
}

void PageReads::prefetch(const TransferRequest& request, FollowUp then) {
    if (!hasRoomAhead()) return;
    const std::string key = keyOf(request);
    for (const auto& pending : pending_) {
        if (pending->key() == key) return;
    }
    pending_.push_back(std::make_unique<Pending>(*this, request, std::move(then)));
    pending_.back()->begin();
}

PageRead PageReads::read(const TransferRequest& request) {
    const std::string key = keyOf(request);
    auto found = pending_.begin();
    while (found != pending_.end() && (*found)->key() != key) ++found;
    if (found == pending_.end()) {
        found =
            pending_.insert(pending_.end(), std::make_unique<Pending>(*this, request, FollowUp{}));
        (*found)->begin();
    }
    Pending& pending = **found;
    job_.waitUntil([&] { return pending.done(); });
    PageRead page = pending.take();
    pending_.erase(found);
    return page;
}

void PageReads::cancelAll() {
    pending_.clear();
}

}  // namespace velnoria
