#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "platform/transfer_engine.h"

namespace velnoria {

// The job's share of the transfer engine: at most `limit` transfers at once in all (image bodies,
// service pages, header requests alike) and at most two per host; the others wait, and start in
// the order they were asked for as room frees up.
class TransferSlots {
  public:
    static constexpr std::size_t kPerHost = 2;
    using Ticket = std::uint64_t;

    TransferSlots(TransferEngine& engine, std::size_t limit);
    ~TransferSlots();
    TransferSlots(const TransferSlots&) = delete;
    TransferSlots& operator=(const TransferSlots&) = delete;

    // Asks for a transfer; it starts at once when there is room, else later. The listener must
    // outlive it (until its onEnd, or cancel()).
    Ticket request(const TransferRequest& request, TransferListener& listener);
    // Ends a transfer, waiting or running; its listener hears nothing more.
    void cancel(Ticket ticket);
    void cancelAll();

    std::size_t limit() const { return limit_; }
    std::size_t running() const { return running_; }
    bool idle() const { return tickets_.empty(); }
    // True once the transfer has left the waiting line (and until it ends).
    bool started(Ticket ticket) const;

  private:
    class Slot;

    void startWaiting();
    void ended(Slot& slot);

    TransferEngine& engine_;
    std::size_t limit_;
    std::size_t running_ = 0;
    Ticket nextTicket_ = 1;
    std::map<Ticket, std::unique_ptr<Slot>> tickets_;
    std::deque<Ticket> waiting_;
    std::map<std::string, std::size_t> runningPerHost_;
};

}  // namespace velnoria
