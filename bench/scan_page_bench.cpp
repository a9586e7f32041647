// velnoria-scan-bench: times the page scan on a large page, for comparison with grep.
//
//   velnoria-scan-bench FILE MARKER        reads FILE as the scan reads its scratch file, up
//                                          to the first item holding MARKER
//   velnoria-scan-bench --url URL MARKER   the whole scan: fetches URL (http_proxy honoured)
//                                          into a temporary file without a name, reads it
//
// Prints what was found and the seconds the scan took; exits 0 when the marker was found, 1
// when not, 2 on a usage error.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/temporary_file.h"
#include "core/unique_fd.h"
#include "download/page_scan.h"
#include "download/rules/page_search.h"
#include "platform/curl/curl_transfer_engine.h"
#include "platform/driving_event_loop.h"
#include "platform/waiting_download.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Found {
    std::size_t position = 0;
    std::size_t itemBytes = 0;
};

// The reading half of the scan, on a file that is already there.
Found scanFile(const char* file, std::string_view marker) {
    const velnoria::UniqueFd fd(::open(file, O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return {};
    const auto result = velnoria::findMarkerItem(fd.get(), marker, {});
    return {result.position, result.item.size()};
}

// The program's network without a front end to yield to.
struct Network {
    class NoFrontEnd : public velnoria::EventLoop {
        void yieldOnce(std::chrono::milliseconds) override {}
    } frontEnd;
    velnoria::CurlUrlCache cache;
    velnoria::CurlTransferEngine engine{cache};
    velnoria::DrivingEventLoop loop{frontEnd, engine};
    velnoria::WaitingDownload download{engine, loop};

    Network() { engine.setTimeoutSeconds(30); }
};

// The whole scan as a rule runs it: the page into a file of its own, then read.
Found scanUrl(const std::string& url, const std::string& marker) {
    Network network;
    std::string error;
    const velnoria::UniqueFd page = velnoria::unnamedTemporaryFile(error);
    if (!page.valid()) return {};
    const int fd = page.get();
    const auto outcome = network.download.download(
        url,
        [fd](const char* data, std::size_t size) {
            return velnoria::writeAll(fd, std::string_view(data, size));
        },
        velnoria::kMaxPageBytes);
    if (!outcome.transferred || ::lseek(fd, 0, SEEK_SET) != 0) return {};
    const auto result = velnoria::findMarkerItem(fd, marker, {});
    return {result.position, result.item.size()};
}

int usage() {
    std::fputs(
        "usage: velnoria-scan-bench FILE MARKER\n"
        "       velnoria-scan-bench --url URL MARKER\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const bool overHttp = argc == 4 && std::string_view(argv[1]) == "--url";
    if (argc != 3 && !overHttp) return usage();

    const auto start = Clock::now();
    const Found found = overHttp ? scanUrl(argv[2], argv[3]) : scanFile(argv[1], argv[2]);
    const std::chrono::duration<double> took = Clock::now() - start;

    std::printf("position %zu, item of %zu bytes, %.4f s\n", found.position, found.itemBytes,
                took.count());
    return found.position > 0 ? 0 : 1;
}
