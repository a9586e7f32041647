#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "download/rules/page_search.h"
#include "platform/url_download.h"

namespace velnoria {

struct PageScanResult {
    std::string item;          // the item that holds the marker (of no use when position is 0)
    std::size_t position = 0;  // where the marker begins in it, from 1; 0 = not found
    // Why the page could not be read whole ("timed out", "HTTP 500"); "" when it was. An error
    // page is still searched, so a marker may be found all the same.
    std::string problem;
    bool interrupted = false;  // the download was ended by a stop request
};

// Called with the found item while the scratch file is still open.
using FoundItemAction = std::function<void(const std::string& item, std::size_t position)>;

struct PageScanRequest {
    std::string pageUrl;
    std::filesystem::path scratchFolder;  // where the private scratch file is made
    std::string marker;                   // searched ignoring ASCII letter case
    std::chrono::milliseconds wait{0};    // pause between the download and the reading
    FoundItemAction onFound;              // optional
};

// Reads the file behind fd, from its current offset, item by item up to the first item holding
// the marker (ASCII letter case ignored), and calls onFound (when given) with that item.
PageScanResult findMarkerItem(int fd, std::string_view marker, const FoundItemAction& onFound);

// Fetches the page into a scratch file of its own (created exclusively in scratchFolder), reads it
// item by item up to the first item holding the marker, then closes and deletes the scratch file
// (also when onFound throws). A page that cannot be fetched gives position 0; an error page is
// scanned like any other. Either way the result names the problem.
PageScanResult scanPage(UrlDownload& download, const PageScanRequest& request);

}  // namespace velnoria
