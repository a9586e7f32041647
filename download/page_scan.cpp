#include "download/page_scan.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "core/page_item_reader.h"
#include "core/temporary_file.h"
#include "core/text.h"
#include "core/unique_fd.h"

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

PageScanResult scanPage(UrlDownload& download, const PageScanRequest& request) {
    PageScanResult result;
    // Private to this scan: nothing of the user's is ever opened or deleted in its place.
    TemporaryFile scratch(request.scratchFolder, "velnoria-page-", ".htm", 0600);
    if (!scratch.valid()) {
        result.problem = "no scratch file: " + std::string(std::strerror(scratch.error()));
        return result;
    }

    const int fd = scratch.fd();
    int writeError = 0;
    const DownloadOutcome outcome = download.download(
        request.pageUrl,
        [fd, &writeError](const char* data, std::size_t size) {
            if (writeAll(fd, std::string_view(data, size))) return true;
            writeError = errno;
            return false;
        },
        kMaxPageBytes);
    if (!outcome.written) {
        result.problem = "no scratch file: " + std::string(std::strerror(writeError));
        return result;
    }
    if (!outcome.transferred) {
        result.problem = outcome.error.empty() ? "transfer failed" : outcome.error;
        result.interrupted = outcome.interrupted;
        return result;
    }
    if (outcome.httpStatus >= 400) result.problem = "HTTP " + std::to_string(outcome.httpStatus);

    if (request.wait.count() > 0) std::this_thread::sleep_for(request.wait);

    if (::lseek(fd, 0, SEEK_SET) != 0) {
        result.problem = "no scratch file: " + std::string(std::strerror(errno));
        return result;
    }
    PageScanResult found = findMarkerItem(fd, request.marker, request.onFound);
    found.problem = std::move(result.problem);
    return found;
}

}  // namespace velnoria
