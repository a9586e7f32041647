// A thread of a thousand images, one in ten of them broken for good and one in ten broken only at
// the first attempt: every image that arrives is whole, every loss is one line of "failed.txt",
// and the job holds no more memory or open files at the end than after its first hundred files.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/faults/process_usage.h"
#include "tests/support/log_texts.h"
#include "tests/support/network_bench.h"

namespace velnoria::testing {
namespace {

constexpr int kImages = 1000;
constexpr int kFirstSample = 100;  // usage is measured when these images are asked for
constexpr int kLastSample = 999;
constexpr std::size_t kMemorySlack = 2 << 20;  // allocator noise, not a leak of 900 files
constexpr std::size_t kFileSlack = 3;  // connections of the loopback server coming and going

std::string nameOf(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "%04d.jpg", i);
    return name;
}

std::string urlOf(int i) {
    return "http://www.hqcity.net/hq/" + nameOf(i);
}

Reply imageOf(int i) {
    return Reply::generated(20000 + static_cast<std::uint64_t>(i) * 37 % 9000,
                            static_cast<std::uint32_t>(i));
}

bool brokenForGood(int i) {
    return i % 10 == 7;
}

bool brokenOnce(int i) {
    return i % 10 == 3;
}

// The ways an image stays broken, taken in turn.
Reply brokenReply(int i) {
    Reply reply = imageOf(i);
    switch (i / 10 % 5) {
        case 0:
            return Reply::withStatus(404, "<html>gone</html>");
        case 1:
            reply.resetAfterBodyBytes = 5000;
            return reply;
        case 2:
            reply.closeAfterBodyBytes = 5000;
            return reply;
        case 3:
            return Reply::redirect("http://loop.test/a");
        default:
            reply.headers.push_back({"Content-Length", "crap"});
            reply.closeConnection = true;
            return reply;
    }
}

// Why each of those fails, as the log says.
std::string brokenReason(int i) {
    switch (i / 10 % 5) {
        case 0:
            return "HTTP 404";
        case 1:
            return "connection reset";
        case 2:
            return "5000 of " + std::to_string(*imageOf(i).bodySize()) + " bytes";
        case 3:
            return "too many redirects";
        default:
            return "invalid answer";
    }
}

// Taken on a server thread while the job waits for the answer.
struct Usage {
    std::atomic<std::size_t> memory{0};
    std::atomic<std::size_t> files{0};
};

TEST(LongJob, AThousandImagesWithFailuresAmongThem) {
    Usage first;
    Usage last;
    NetworkBench net(/*timeoutSeconds=*/5, /*watchdog=*/std::chrono::seconds(110));
    net.bench.program.settings.pieceSize = 4096;
    net.server.route("http://loop.test/a", Reply::redirect("http://loop.test/b"));
    net.server.route("http://loop.test/b", Reply::redirect("http://loop.test/a"));

    std::string expectedLog = "Starting download process...\r\n";
    std::string expectedFailures;
    for (int i = 0; i < kImages; ++i) {
        net.bench.document.images.push_back("http://www.hqcity.net/thumbs/" + nameOf(i));
        const std::string attempt = "Downloading file " + nameOf(i) + "...";
        if (brokenForGood(i)) {
            net.server.route(urlOf(i), brokenReply(i));
            const std::string reason = brokenReason(i);
            expectedLog += attempt + logRetry(reason) + attempt + logRetry(reason) + attempt +
                           logLogged(reason);
            expectedFailures += urlOf(i) + "\r\n";
        } else if (brokenOnce(i)) {
            net.server.route(urlOf(i), {Reply::withStatus(500, "busy"), imageOf(i)});
            expectedLog += attempt + logRetry("HTTP 500") + attempt + "OK\r\n";
        } else if (i == kFirstSample || i == kLastSample) {
            Usage& usage = i == kFirstSample ? first : last;
            net.server.route(urlOf(i), [&usage, i](const Request&) {
                usage.memory = residentBytes();
                usage.files = openFileCount();
                return imageOf(i);
            });
            expectedLog += attempt + "OK\r\n";
        } else {
            net.server.route(urlOf(i), imageOf(i));
            expectedLog += attempt + "OK\r\n";
        }
    }
    // The server's own record of requests is no part of the job's memory.
    net.loop.onYield = [&](int yields) {
        if (yields % 256 == 0) net.server.clearRequests();
    };

    const JobResult result = net.bench.run();

    EXPECT_EQ(result.finishedCount, kImages - kImages / 10);
    EXPECT_EQ(result.failuresLogged, kImages / 10);
    EXPECT_TRUE(net.bench.view.log == expectedLog)
        << "the log differs from its line "
        << std::count(expectedLog.begin(),
                      std::mismatch(expectedLog.begin(), expectedLog.end(),
                                    net.bench.view.log.begin(), net.bench.view.log.end())
                          .first,
                      '\n');
    EXPECT_EQ(net.bench.failedTxt(), expectedFailures);
    int whole = 0;
    for (int i = 0; i < kImages; ++i) {
        if (brokenForGood(i)) continue;
        const std::string saved = readFile(net.bench.saved(nameOf(i)));
        const Reply image = imageOf(i);
        if (saved == generatedBytes(*image.generatedSize, image.generatedSeed)) ++whole;
    }
    EXPECT_EQ(whole, kImages - kImages / 10);

    const std::size_t memoryBefore = first.memory;
    const std::size_t memoryAfter = last.memory;
    const std::size_t filesBefore = first.files;
    const std::size_t filesAfter = last.files;
    ASSERT_GT(memoryBefore, 0u);
    ASSERT_GT(memoryAfter, 0u);
    RecordProperty("rss_after_100", std::to_string(memoryBefore));
    RecordProperty("rss_after_1000", std::to_string(memoryAfter));
    if (kResidentMemoryTellsLeaks) {
        EXPECT_LE(memoryAfter, memoryBefore + kMemorySlack)
            << "resident memory grew from " << memoryBefore << " to " << memoryAfter << " bytes";
    }
    EXPECT_LE(filesAfter, filesBefore + kFileSlack)
        << "open files grew from " << filesBefore << " to " << filesAfter;
}

}  // namespace
}  // namespace velnoria::testing
