#include "tests/faults/fault_cell.h"

#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>

#include "tests/support/log_texts.h"
#include "tests/support/network_bench.h"

namespace velnoria::testing {

namespace {

constexpr std::int32_t kPieceSize = 1024;
const std::string& kStart = testing::kLogStart;
using testing::logLogged;
using testing::logRetry;
const std::string kWarning =
    "\r\nWarning! Unknown file size, trying alternative method for download...";

// The image itself, behind a rewrite rule.
const std::string kImageThumb = "http://www.hqcity.net/thumbs/img8.jpg";
const std::string kImageUrl = "http://www.hqcity.net/hq/img8.jpg";
const std::string kImageName = "img8.jpg";
const Reply kImage = Reply::generated(5000, 8);

// ImageHaven's page of the image.
const std::string kHavenThumb = "http://img105.imagehaven.net/img/thumbs/12_x.jpg";
const std::string kHavenPage = "http://img105.imagehaven.net/img.php?id=12_x.jpg";
const std::string kHavenImage = "http://img105.imagehaven.net/images/12_x.jpg";
const std::string kHavenName = "12_x.jpg";
const Reply kHavenBytes = Reply::generated(3000, 3);

// ImageBam: its page names the download address, whose header answer names the file.
const std::string kBamThumb = "http://thumbs.imagebam.com/ab/cd/ab12cd.jpg";
const std::string kBamPage = "http://www.imagebam.com/image/ab12cd";
const std::string kBamDownload = "http://www.imagebam.com/download/ab12cd?a=1&b=2";
const std::string kBamName = "bam.jpg";
const Reply kBamBytes = Reply::generated(4000, 1);

const std::string kLoopA = "http://loop.test/a";
const std::string kLoopB = "http://loop.test/b";

// A service's page: the marker late in a long page, among commas and quotes.
Reply servicePage(const std::string& line) {
    return Reply::ok("<!DOCTYPE html>\n<html><head><title>Image, \"view\"</title></head>\n<body>" +
                         std::string(3000, ' ') + "<div id=\"nav\">one, two, three</div>\n" + line +
                         "\n<div>\"footer\", done</div></body></html>\n",
                     "text/html");
}

Reply bamHeaders() {
    Reply reply = kBamBytes;
    reply.headers.push_back({"Content-Disposition", "attachment; filename=\"" + kBamName + "\""});
    return reply;
}

std::string bytesOf(const Reply& reply) {
    return reply.generatedSize ? generatedBytes(*reply.generatedSize, reply.generatedSeed)
                               : reply.body;
}

// Files may grow no further than `bytes`, as on a full disk; a write beyond gives EFBIG.
class ScopedFileSizeLimit {
  public:
    explicit ScopedFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        oldAction_ = ::signal(SIGXFSZ, SIG_IGN);
    }
    ~ScopedFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        ::signal(SIGXFSZ, oldAction_);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

  private:
    rlimit old_{};
    sighandler_t oldAction_ = SIG_DFL;
};

int occurrences(const std::string& text, const std::string& word) {
    int count = 0;
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
    return count;
}

// The log of one file's attempts: `failures` failed ones for the reason, then one that succeeds
// unless all three failed.
std::string attemptsLog(const std::string& displayName, int failures, bool warned, bool succeeds,
                        const std::string& reason = {}) {
    const std::string line = "Downloading file " + displayName + "..." + (warned ? kWarning : "");
    std::string log;
    for (int attempt = 1; attempt <= failures; ++attempt) {
        log += line + (attempt < 3 ? logRetry(reason) : logLogged(reason));
    }
    if (succeeds) log += "Downloading file " + displayName + "...OK\r\n";
    return log;
}

// The counters the server's handlers keep; they outlive the server.
struct Rounds {
    std::atomic<int> attemptsStarted{0};
    std::mutex mutex;
    int pageVisits = 0;
    int headerRequests = 0;

    int next(int& counter) {
        std::lock_guard lock(mutex);
        return ++counter;
    }
};

}  // namespace

const char* whereName(Where where) {
    switch (where) {
        case Where::Image:
            return "Image";
        case Where::Page:
            return "Page";
        case Where::HeaderRequest:
            return "HeaderRequest";
    }
    return "?";
}

CellResult expectedResult(const Fault& fault, Where where, int faultyRounds) {
    CellResult result;
    result.log = kStart;
    switch (where) {
        case Where::Image: {
            if (!fault.imageFails) {
                result.log += "Downloading file " + kImageName + "..." +
                              (fault.imageUnknownSize ? kWarning : "") + "OK\r\n";
                result.files[kImageName] = *fault.imageFile;
                result.finished = 1;
                break;
            }
            const bool recovers = faultyRounds < 3;
            result.log += attemptsLog(kImageName, faultyRounds, fault.imageUnknownSize, recovers,
                                      fault.imageReason);
            if (recovers) {
                result.files[kImageName] = bytesOf(kImage);
                result.finished = 1;
            } else {
                // A failed download leaves nothing under its name.
                result.failedTxt = kImageUrl + "\r\n";
            }
            break;
        }
        case Where::Page: {
            // A page that cannot be read is said in the log, and the thumbnail logged; one read
            // without the marker passes the thumbnail over in silence.
            for (int visit = 1; visit <= 3; ++visit) {
                if (visit <= faultyRounds && !fault.pageReadable) {
                    if (fault.pageProblem.empty()) continue;
                    result.log += "Service page cannot be read: " + kHavenPage + " (" +
                                  fault.pageProblem + ")\r\n";
                    result.failedTxt += kHavenThumb + "\r\n";
                } else {
                    result.log += attemptsLog(kHavenName, 0, false, true);
                    ++result.finished;
                }
            }
            if (result.finished > 0) result.files[kHavenName] = bytesOf(kHavenBytes);
            break;
        }
        case Where::HeaderRequest: {
            // Without a name the download cannot be saved: three failed attempts, then logged.
            for (int visit = 1; visit <= 3; ++visit) {
                if (visit <= faultyRounds && !fault.headNamesFile) {
                    result.log += attemptsLog("", 3, false, false, "no usable file name");
                    result.failedTxt += kBamDownload + "\r\n";
                } else {
                    result.log += attemptsLog(kBamName, 0, false, true);
                    ++result.finished;
                }
            }
            if (result.finished > 0) result.files[kBamName] = bytesOf(kBamBytes);
            break;
        }
    }
    return result;
}

CellResult runCell(const Fault& fault, Where where, int faultyRounds) {
    Rounds rounds;
    NetworkBench net(fault.timeoutSeconds);
    net.bench.program.settings.pieceSize = kPieceSize;
    net.server.route(kLoopA, Reply::redirect(kLoopB));
    net.server.route(kLoopB, Reply::redirect(kLoopA));

    switch (where) {
        case Where::Image:
            // An attempt has started once its log line stands; its request follows the first wait.
            net.loop.onYield = [&](int) {
                rounds.attemptsStarted = occurrences(net.bench.view.log, "Downloading file ");
            };
            net.server.route(kImageUrl, [&](const Request&) {
                return rounds.attemptsStarted.load() <= faultyRounds
                           ? fault.make(Reply::ok(std::string(kFaultyImageBody)))
                           : kImage;
            });
            net.bench.document.images = {kImageThumb};
            break;
        case Where::Page: {
            const Reply page = servicePage("<IMG SRC='./images/12_x.jpg' id=\"image\">");
            net.server.route(kHavenPage, [&, page](const Request&) {
                return rounds.next(rounds.pageVisits) <= faultyRounds ? fault.make(page) : page;
            });
            net.server.route(kHavenImage, kHavenBytes);
            net.bench.document.images = {kHavenThumb, kHavenThumb, kHavenThumb};
            break;
        }
        case Where::HeaderRequest:
            net.server.route(kBamPage, servicePage("<a class=\"btn\" href='" +
                                                   std::string("http://www.imagebam.com/download/"
                                                               "ab12cd?a=1&amp;b=2") +
                                                   "' target=\"_blank\">Save</a>"));
            net.server.route(kBamDownload, [&](const Request& request) {
                if (request.method != "HEAD") return kBamBytes;
                return rounds.next(rounds.headerRequests) <= faultyRounds ? fault.make(bamHeaders())
                                                                          : bamHeaders();
            });
            net.bench.document.images = {kBamThumb, kBamThumb, kBamThumb};
            break;
    }

    std::optional<ScopedFileSizeLimit> diskLimit;
    if (fault.diskLimit) diskLimit.emplace(kDiskLimitBytes);
    const JobResult job = net.bench.run();
    diskLimit.reset();

    CellResult result;
    result.log = net.bench.view.log;
    result.failedTxt = net.bench.failedTxt();
    for (const auto& entry : std::filesystem::directory_iterator(net.bench.saveFolder)) {
        result.files[entry.path().filename().string()] = readFile(entry.path());
    }
    result.finished = job.finishedCount;
    for (const auto& name : net.bench.workFolderFiles()) {
        if (name != "images" && name != "failed.txt") result.strayFiles.push_back(name);
    }
    for (const auto& name : net.bench.scratchFiles()) result.strayFiles.push_back(name);
    return result;
}

}  // namespace velnoria::testing
