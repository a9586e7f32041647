// The per-file download over real HTTP: libcurl talking to the loopback test server.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "download/fetch_file.h"
#include "tests/support/log_texts.h"
#include "tests/support/network_bench.h"

namespace velnoria {
namespace {

using testing::generatedBytes;
using testing::JobBench;
using testing::NetworkBench;
using testing::readFile;
using testing::Reply;
using testing::ScopedEnv;
using testing::writeFile;

constexpr const char* kUrl = "http://img.test/a.jpg";
const std::string& kStart = testing::kLogStart;
const std::string kOnce = "Downloading file a.jpg...";
using testing::logLogged;
using testing::logRetry;

std::string threeFailures(const std::string& reason) {
    return kStart + kOnce + logRetry(reason) + kOnce + logRetry(reason) + kOnce + logLogged(reason);
}

// The bytes the save folder holds: a download in hand is in a temporary file there.
std::uintmax_t bytesIn(const std::filesystem::path& folder) {
    std::uintmax_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::error_code ec;
        const auto size = entry.file_size(ec);
        if (!ec) bytes += size;
    }
    return bytes;
}
const std::string kWarning =
    "\r\nWarning! Unknown file size, trying alternative method for download...";

JobCounts fetch(NetworkBench& net, const std::string& name = "a.jpg") {
    return net.bench.fetch({kUrl, name});
}

TEST(FetchFileNetwork, FirstAttemptSuccess) {
    NetworkBench net;
    net.server.route(kUrl, Reply::generated(300000, 7));
    const JobCounts job = fetch(net);
    EXPECT_EQ(net.bench.view.log, kStart + kOnce + "OK\r\n");
    EXPECT_EQ(job.finished, 1);
    EXPECT_EQ(readFile(net.bench.saved("a.jpg")), generatedBytes(300000, 7));
    EXPECT_EQ(net.seen(), std::vector<std::string>{std::string("GET ") + kUrl});
    EXPECT_FALSE(std::filesystem::exists(net.bench.temp.path() / "failed.txt"));
    // Pieces of 102400 bytes: the bar stood at 0, 102400 and 204800 before them, then at the end.
    EXPECT_EQ(net.bench.view.values, (std::vector<double>{0, 102400, 204800, 300000}));
}

TEST(FetchFileNetwork, FailuresOnEveryAttemptAreLoggedOnce) {
    struct Case {
        const char* what;
        Reply reply;
        std::string reason;
    };
    Reply cut = Reply::generated(50000, 3);
    cut.resetAfterBodyBytes = 20000;
    const Case cases[] = {
        {"404 page", Reply::withStatus(404, "no such image"), "HTTP 404"},
        {"500 Internal Server Error", Reply::withStatus(500, "server broke"), "HTTP 500"},
        {"body cut by a reset", cut, "connection reset"},
    };
    for (const auto& c : cases) {
        NetworkBench net;
        net.server.route(kUrl, c.reply);
        const JobCounts job = fetch(net);
        EXPECT_EQ(net.bench.view.log, threeFailures(c.reason)) << c.what;
        EXPECT_EQ(job.finished, 0) << c.what;
        EXPECT_EQ(net.bench.failedTxt(), std::string(kUrl) + "\r\n") << c.what;
        const auto requests = net.server.requestsFor(kUrl);
        ASSERT_EQ(requests.size(), 3u) << c.what;
        // The retries ask past any cache.
        EXPECT_EQ(requests[1].header("Cache-Control"), "no-cache") << c.what;
        EXPECT_EQ(requests[2].header("Pragma"), "no-cache") << c.what;
        // Nothing of a failed download stays under its name, nor beside it.
        EXPECT_TRUE(std::filesystem::is_empty(net.bench.saveFolder)) << c.what;
    }
}

TEST(FetchFileNetwork, ConnectionRefusedIsAFailedAttempt) {
    NetworkBench net;
    ScopedEnv refuse("http_proxy", testing::refusingProxy());
    fetch(net);
    EXPECT_EQ(net.bench.view.log, threeFailures("connection refused"));
    EXPECT_EQ(net.bench.failedTxt(), std::string(kUrl) + "\r\n");
    EXPECT_TRUE(std::filesystem::is_empty(net.bench.saveFolder));
}

TEST(FetchFileNetwork, AServerThatNeverAnswersTimesOut) {
    NetworkBench net(/*timeoutSeconds=*/1);
    Reply silent;
    silent.neverAnswer = true;
    net.server.route(kUrl, silent);
    const auto start = std::chrono::steady_clock::now();
    fetch(net);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(net.bench.view.log, threeFailures("timed out"));
    EXPECT_EQ(net.bench.failedTxt(), std::string(kUrl) + "\r\n");
    EXPECT_GE(took, std::chrono::seconds(3));
    EXPECT_LT(took, std::chrono::seconds(10));
}

TEST(FetchFileNetwork, AnErrorMarkerOnlyOnTheFirstAttempt) {
    NetworkBench net;
    Reply marked = Reply::ok("partial");
    marked.headers.push_back({"X-Status", "Unable to complete request"});
    net.server.route(kUrl, {marked, Reply::ok("the image")});
    const JobCounts job = fetch(net);
    EXPECT_EQ(
        net.bench.view.log,
        kStart + kOnce + logRetry("server error: Unable to complete request") + kOnce + "OK\r\n");
    EXPECT_EQ(job.finished, 1);
    EXPECT_EQ(readFile(net.bench.saved("a.jpg")), "the image");
}

TEST(FetchFileNetwork, WithoutContentLengthTheAlternativeDownloadTakesTheFile) {
    struct Case {
        const char* what;
        Reply reply;
        bool ok;
        std::string reason = {};
    };
    Reply chunked = Reply::generated(150000, 9);
    chunked.chunked = true;
    Reply closeDelimited = Reply::ok("up to the close");
    closeDelimited.autoContentLength = false;
    closeDelimited.closeConnection = true;
    // A length that is no plain number frames no body: libcurl would read "+10" as 10 and "6x"
    // as 6, so the answer is refused whole.
    Reply signed_ = Reply::ok("odd length");
    signed_.headers.push_back({"Content-Length", "+10"});
    Reply junk = Reply::ok("longer than six bytes");
    junk.closeConnection = true;
    junk.headers.push_back({"Content-Length", "6x"});
    Reply missing = Reply::withStatus(404, "gone");
    missing.chunked = true;
    const Case cases[] = {
        {"chunked", chunked, true},
        {"ended by close", closeDelimited, true},
        {"signed length", signed_, false, "invalid answer: Content-Length is not a number"},
        {"length with junk after it", junk, false,
         "invalid answer: Content-Length is not a number"},
        {"error status", missing, false, "HTTP 404"},
    };
    for (const auto& c : cases) {
        NetworkBench net;
        net.server.route(kUrl, c.reply);
        const JobCounts job = fetch(net);
        // A refused answer never gets as far as its length.
        const bool refused = c.reason.rfind("invalid answer", 0) == 0;
        const std::string warned = kOnce + (refused ? "" : kWarning);
        EXPECT_EQ(net.bench.view.log, c.ok ? kStart + warned + "OK\r\n"
                                           : kStart + warned + logRetry(c.reason) + warned +
                                                 logRetry(c.reason) + warned + logLogged(c.reason))
            << c.what;
        EXPECT_EQ(job.finished, c.ok ? 1 : 0) << c.what;
        // The bar was reset and then left alone (a refused answer never reached it).
        EXPECT_EQ(net.bench.view.values, refused ? std::vector<double>{} : std::vector<double>{0})
            << c.what;
        EXPECT_EQ(net.bench.view.maximum, 100) << c.what;
        if (c.ok) {
            const std::string expected =
                c.reply.generatedSize ? generatedBytes(150000, 9) : c.reply.body;
            EXPECT_EQ(readFile(net.bench.saved("a.jpg")), expected) << c.what;
            // The body is taken from the one answer: no second request for it.
            EXPECT_EQ(net.server.requestsFor(kUrl).size(), 1u) << c.what;
        }
    }
}

TEST(FetchFileNetwork, ContentLengthZeroMakesAnEmptyFile) {
    NetworkBench net;
    net.server.route(kUrl, Reply::ok(""));
    fetch(net);
    EXPECT_EQ(net.bench.view.log, kStart + kOnce + "OK\r\n");
    EXPECT_TRUE(std::filesystem::exists(net.bench.saved("a.jpg")));
    EXPECT_EQ(std::filesystem::file_size(net.bench.saved("a.jpg")), 0u);
}

TEST(FetchFileNetwork, AShortBodyEndsThePiecesAndFails) {
    NetworkBench net;
    Reply shortBody = Reply::generated(1000, 4);
    shortBody.headers.push_back({"Content-Length", "5000"});
    shortBody.closeAfterBodyBytes = 1000;
    net.server.route(kUrl, shortBody);
    net.bench.program.settings.pieceSize = 1024;
    fetch(net);
    EXPECT_EQ(net.bench.view.log, threeFailures("1000 of 5000 bytes"));
    EXPECT_TRUE(std::filesystem::is_empty(net.bench.saveFolder));
    EXPECT_EQ(net.bench.failedTxt(), std::string(kUrl) + "\r\n");
    // The second and third attempts ask only for the rest.
    const auto requests = net.server.requestsFor(kUrl);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].header("Range"), "");
    EXPECT_EQ(requests[1].header("Range"), "bytes=1000-");
}

TEST(FetchFileNetwork, AnExistingLongerFileIsReplaced) {
    NetworkBench net;
    writeFile(net.bench.saved("a.jpg"), std::string(100000, 'o'));
    net.server.route(kUrl, Reply::ok("new and short"));
    const JobCounts job = fetch(net);
    EXPECT_EQ(job.finished, 1);
    EXPECT_EQ(readFile(net.bench.saved("a.jpg")), "new and short");
}

TEST(FetchFileNetwork, StopDuringAPieceEndsTheJob) {
    NetworkBench net;
    Reply slow = Reply::generated(4000, 5);
    slow.drip = testing::Drip{100, std::chrono::milliseconds(20)};
    net.server.route("http://radikal.ru/a.jpg", slow);
    net.server.route("http://radikal.ru/b.jpg", Reply::ok("never asked for"));
    net.bench.program.settings.pieceSize = 500;
    net.bench.document.images = {"http://radikal.ru/at.jpg", "http://radikal.ru/bt.jpg"};
    // Stop/Abort clicked while the job waits inside a piece.
    net.loop.onYield = [&](int) {
        if (bytesIn(net.bench.saveFolder) >= 1000) net.bench.status->stopClick();
    };
    const JobResult result = net.bench.run();
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.finishedCount, 0);
    EXPECT_EQ(net.bench.view.log, kStart + kOnce);
    // Nothing of the stopped file stays, not even its temporary file.
    EXPECT_TRUE(std::filesystem::is_empty(net.bench.saveFolder));
    EXPECT_FALSE(std::filesystem::exists(net.bench.temp.path() / "failed.txt"));
    EXPECT_TRUE(net.server.requestsFor("http://radikal.ru/b.jpg").empty());
    EXPECT_EQ(net.bench.messageBox.shown,
              std::vector<std::string>{"Finish|Task finished !\r\nNo file downloaded."});
    EXPECT_EQ(net.bench.program.runState, RunState::Running);
}

TEST(FetchFileNetwork, PauseAndContinueLoseAndRepeatNothing) {
    struct Case {
        const char* what;
        Reply reply;
    };
    Reply lateHeaders = Reply::generated(3000, 6);
    lateHeaders.headerDelay = std::chrono::milliseconds(200);
    Reply slowBody = Reply::generated(3000, 6);
    slowBody.drip = testing::Drip{300, std::chrono::milliseconds(30)};
    const Case cases[] = {{"waiting for the headers", lateHeaders},
                          {"waiting for a piece", slowBody}};
    for (const auto& c : cases) {
        // A pause longer than the time-out must not make the request time out.
        NetworkBench net(/*timeoutSeconds=*/1);
        net.server.route(kUrl, c.reply);
        net.bench.program.settings.pieceSize = 1000;
        bool paused = false;
        std::chrono::steady_clock::time_point pausedAt;
        net.loop.onYield = [&](int) {
            if (!paused && net.bench.program.runState == RunState::Running &&
                (c.reply.drip ? !std::filesystem::is_empty(net.bench.saveFolder) : true)) {
                paused = true;
                pausedAt = std::chrono::steady_clock::now();
                net.bench.status->pauseClick();  // returns after Continue
            } else if (net.bench.program.runState == RunState::Paused &&
                       std::chrono::steady_clock::now() - pausedAt >
                           std::chrono::milliseconds(1500)) {
                net.bench.status->pauseClick();
            }
        };
        const JobCounts job = fetch(net);
        EXPECT_TRUE(paused) << c.what;
        EXPECT_EQ(net.bench.view.log, kStart + kOnce + "OK\r\n") << c.what;
        EXPECT_EQ(job.finished, 1) << c.what;
        EXPECT_EQ(readFile(net.bench.saved("a.jpg")), generatedBytes(3000, 6)) << c.what;
        EXPECT_EQ(net.server.requestsFor(kUrl).size(), 1u) << c.what;
    }
}

TEST(FetchFileNetwork, UnsafeNamesWriteNothingOutsideTheSaveFolder) {
    for (const std::string name : {"../escape.jpg", "", ".."}) {
        NetworkBench net;
        net.server.route(kUrl, Reply::ok("bytes"));
        fetch(net, name);
        const std::string safe = name.empty() || name == ".." ? "" : "escape.jpg";
        if (safe.empty()) {
            EXPECT_EQ(net.bench.failedTxt(), std::string(kUrl) + "\r\n") << name;
            EXPECT_TRUE(std::filesystem::is_empty(net.bench.saveFolder)) << name;
        } else {
            EXPECT_EQ(readFile(net.bench.saved(safe)), "bytes") << name;
        }
        EXPECT_FALSE(std::filesystem::exists(net.bench.temp.path() / "escape.jpg")) << name;
    }
}

}  // namespace
}  // namespace velnoria
