#include "download/page_scan.h"

#include <unistd.h>

#include <thread>
#include <utility>

#include "core/page_item_reader.h"
#include "core/text.h"
#include "core/unique_fd.h"

namespace velnoria {

namespace {

// A short-lived file that holds an intermediate page: whatever stood at the name is replaced, and
// the file is closed and deleted when this object goes away, whichever way the scan is left.
class ScratchFile {
  public:
    explicit ScratchFile(std::filesystem::path path) : path_(std::move(path)) {
        // Removing the old entry first replaces a symbolic link instead of writing through it.
        ::unlink(path_.c_str());
        fd_ = openForWriting(path_, /*readBack=*/true);
    }
    ~ScratchFile() {
        fd_.reset();
        ::unlink(path_.c_str());  // a failure to delete is of no consequence to the job
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    bool isOpen() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }

  private:
    std::filesystem::path path_;
    UniqueFd fd_;
};

}  // namespace

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
