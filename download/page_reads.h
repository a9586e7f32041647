#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "core/unique_fd.h"
#include "download/job_context.h"
#include "download/transfer_slots.h"

namespace velnoria {

// A page (or a header request's answer) a rule read, its body in a private temporary file that
// has no name, so nothing of it can stay behind.
struct PageRead {
    bool transferred = false;  // the whole answer arrived
    long httpStatus = 0;
    std::string error;  // why not transferred
    std::string finalUrl;
    std::string headerBlock;
    UniqueFd body;  // at its start; invalid when nothing was kept (a header request)
    std::chrono::steady_clock::time_point arrivedAt{};
};

// The request a rule makes after the page it read first (the header request after ImageBam's
// page, the page after a visit), when there is one.
using FollowUp = std::function<std::optional<TransferRequest>(PageRead& page)>;

// What a rule will read for an address, known before the rule runs: with downloads at once the
// walk asks for it ahead, so that the pages of the next images come in while files download.
struct PagePlan {
    TransferRequest first;
    FollowUp then;
};

// How the rules of a job read service pages: on the job's transfers, so they count within its
// limit and its two per host. A page asked for ahead (prefetch) is kept until its rule reads it;
// a page read that nobody asked for ahead is asked for then. Either way the rule gets the same
// page, and rules run in walk order, so what they do with it is in walk order too.
class PageReads {
  public:
    // keepAhead: how many pages may be asked for ahead and not yet read; 0: never ahead.
    PageReads(JobContext& job, std::size_t keepAhead);
    ~PageReads();
    PageReads(const PageReads&) = delete;
    PageReads& operator=(const PageReads&) = delete;

    // Reads a page: waits (yielding, every transfer moving on) until it has arrived. Throws
    // JobStopped on a stop request.
    PageRead read(const TransferRequest& request);
    // Asks for a page ahead, when there is room; then also for what follows it.
    void prefetch(const TransferRequest& request, FollowUp then = {});
    bool hasRoomAhead() const;
    void cancelAll();

  private:
    class Pending;
    static std::string keyOf(const TransferRequest& request);

    JobContext& job_;
    std::size_t keepAhead_;
    std::list<std::unique_ptr<Pending>> pending_;
};

}  // namespace velnoria
