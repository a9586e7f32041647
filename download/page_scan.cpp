#include "download/page_scan.h"

#include <unistd.h>

#include <thread>

#include "download/page_item_reader.h"
#include "download/scratch_file.h"
#include "download/text_ops.h"
#include "download/unique_fd.h"

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
    ScratchFile scratch(request.scratchFile);
    if (!scratch.isOpen()) return result;

    const int fd = scratch.fd();
    const DownloadOutcome outcome = download.download(
        request.pageUrl,
        [fd](const char* data, std::size_t size) {
            return writeAll(fd, std::string_view(data, size));
        },
        kMaxPageBytes);
    if (!outcome.transferred || !outcome.written) return result;

    if (request.wait.count() > 0) std::this_thread::sleep_for(request.wait);

    if (::lseek(fd, 0, SEEK_SET) != 0) return result;
    return findMarkerItem(fd, request.marker, request.onFound);
}

}  // namespace velnoria
