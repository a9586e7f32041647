#include "download/page_scan.h"

#include "core/page_item_reader.h"
#include "core/text.h"
#include "download/page_reads.h"

namespace velnoria {

PageScanResult findMarkerItem(int fd, std::string_view marker, const FoundItemAction& onFound) {
    PageScanResult result;
    PageItemReader reader(fd);
    std::string item;
    for (;;) {
        // Most lines of a page do not hold the marker: those are passed over whole.
        reader.skipLinesWithout(marker);
        if (!reader.next(item)) break;
        result.position = positionIgnoringCase(item, marker);
        if (result.position > 0) {
            result.item = std::move(item);
            if (onFound) onFound(result.item, result.position);
            break;
        }
    }
    return result;
}

TransferRequest servicePageRequest(const JobContext& job, const std::string& pageUrl) {
    TransferRequest request;
    request.url = pageUrl;
    request.referringPage = referringPageFor(
        job.program.session, job.page.foundAt.empty() ? job.page.address : job.page.foundAt);
    return request;
}

PageScanResult scanServicePage(JobContext& job, const std::string& pageUrl, std::string_view marker,
                               std::chrono::milliseconds wait, const FoundItemAction& onFound) {
    PageRead page = job.pages->read(servicePageRequest(job, pageUrl));
    PageScanResult result;
    if (!page.transferred) {
        result.problem = page.error;
        return result;
    }
    if (page.httpStatus >= 400) result.problem = "HTTP " + std::to_string(page.httpStatus);
    // The service's own pause counts from the page's arrival: a page read ahead has waited.
    if (wait.count() > 0) {
        const auto waited = std::chrono::steady_clock::now() - page.arrivedAt;
        if (waited < wait) {
            job.waitFor(std::chrono::duration_cast<std::chrono::milliseconds>(wait - waited));
        }
    }
    PageScanResult found = findMarkerItem(page.body.get(), marker, onFound);
    found.problem = std::move(result.problem);
    return found;
}

}  // namespace velnoria
