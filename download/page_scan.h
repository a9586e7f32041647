#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "download/job_context.h"

namespace velnoria {

struct PageScanResult {
    std::string item;          // the item that holds the marker (of no use when position is 0)
    std::size_t position = 0;  // where the marker begins in it, from 1; 0 = not found
    // Why the page could not be read whole ("timed out", "HTTP 500"); "" when it was. An error
    // page is still searched, so a marker may be found all the same.
    std::string problem;
};

// Called with the found item while the page is still open.
using FoundItemAction = std::function<void(const std::string& item, std::size_t position)>;

// Reads the file behind fd, from its current offset, item by item up to the first item holding
// the marker (ASCII letter case ignored), and calls onFound (when given) with that item.
PageScanResult findMarkerItem(int fd, std::string_view marker, const FoundItemAction& onFound);

// The request for a service page a built-in rule reads: from the page in hand, as a browser
// following the thumbnail's link would ask.
TransferRequest servicePageRequest(const JobContext& job, const std::string& pageUrl);

// Reads a service page (or takes it, when it was read ahead) and searches it item by item for
// the marker. `wait` is a pause between the page's arrival and the reading. A page that cannot be
// fetched gives position 0; an error page is searched like any other. Either way the result
// names the problem. Throws JobStopped on a stop request.
PageScanResult scanServicePage(JobContext& job, const std::string& pageUrl, std::string_view marker,
                               std::chrono::milliseconds wait = {},
                               const FoundItemAction& onFound = {});

}  // namespace velnoria
