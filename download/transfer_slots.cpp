#include "download/transfer_slots.h"

#include <algorithm>

#include "core/web_address.h"

namespace velnoria {

// One transfer asked for: stands between the engine and the caller's listener, so that its end
// frees its room.
class TransferSlots::Slot : public TransferListener {
  public:
    Slot(TransferSlots& owner, Ticket ticket, TransferRequest request, TransferListener& listener)
        : owner_(owner),
          ticket_(ticket),
          request_(std::move(request)),
          host_(webHostName(request_.url)),
          listener_(listener) {}

    Ticket ticket() const { return ticket_; }
    const std::string& host() const { return host_; }
    bool started() const { return started_; }
    TransferEngine::Id id() const { return id_; }

    void start(TransferEngine& engine) {
        started_ = true;
        id_ = engine.start(request_, *this);
    }

    bool onHeaders(const std::string& headerBlock) override {
        return listener_.onHeaders(headerBlock);
    }
    bool onBody(const char* data, std::size_t size) override {
        return listener_.onBody(data, size);
    }
    void onEnd(const TransferEnd& end) override {
        TransferListener& listener = listener_;
        owner_.ended(*this);  // this slot is gone from here on
        listener.onEnd(end);
    }

  private:
    TransferSlots& owner_;
    Ticket ticket_;
    TransferRequest request_;
    std::string host_;
    TransferListener& listener_;
    bool started_ = false;
    TransferEngine::Id id_ = 0;
};

TransferSlots::TransferSlots(TransferEngine& engine, std::size_t limit)
    : engine_(engine), limit_(std::max<std::size_t>(limit, 1)) {}

TransferSlots::~TransferSlots() {
    cancelAll();
}

TransferSlots::Ticket TransferSlots::request(const TransferRequest& request,
                                             TransferListener& listener) {
    const Ticket ticket = nextTicket_++;
    tickets_.emplace(ticket, std::make_unique<Slot>(*this, ticket, request, listener));
    waiting_.push_back(ticket);
    startWaiting();
    return ticket;
}

void TransferSlots::cancel(Ticket ticket) {
    const auto found = tickets_.find(ticket);
    if (found == tickets_.end()) return;
    Slot& slot = *found->second;
    if (slot.started()) {
        engine_.cancel(slot.id());
        --running_;
        if (--runningPerHost_[slot.host()] == 0) runningPerHost_.erase(slot.host());
    } else {
        waiting_.erase(std::find(waiting_.begin(), waiting_.end(), ticket));
    }
    tickets_.erase(found);
    startWaiting();
}

bool TransferSlots::started(Ticket ticket) const {
    const auto found = tickets_.find(ticket);
    return found != tickets_.end() && found->second->started();
}

void TransferSlots::cancelAll() {
    waiting_.clear();
    for (auto& [ticket, slot] : tickets_) {
        if (slot->started()) engine_.cancel(slot->id());
    }
    tickets_.clear();
    runningPerHost_.clear();
    running_ = 0;
}

void TransferSlots::startWaiting() {
    for (auto it = waiting_.begin(); it != waiting_.end() && running_ < limit_;) {
        Slot& slot = *tickets_.at(*it);
        std::size_t& onHost = runningPerHost_[slot.host()];
        if (onHost >= kPerHost) {
            ++it;
            continue;
        }
        ++onHost;
        ++running_;
        it = waiting_.erase(it);
        slot.start(engine_);
    }
}

void TransferSlots::ended(Slot& slot) {
    --running_;
    if (--runningPerHost_[slot.host()] == 0) runningPerHost_.erase(slot.host());
    tickets_.erase(slot.ticket());
    startWaiting();
}

}  // namespace velnoria
