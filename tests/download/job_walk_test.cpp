// The job from "Start Download" to the final message, on fake platform pieces.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "download/download_job.h"
#include "tests/support/job_fakes.h"

namespace velnoria {
namespace {

using testing::FakeAnswer;
using testing::JobBench;
using testing::readFile;

std::vector<std::string> gets(std::initializer_list<std::string> urls) {
    std::vector<std::string> out;
    for (const auto& url : urls) out.push_back("GET " + url);
    return out;
}

TEST(JobWalk, SlotChoiceForEachAddress) {
    struct Case {
        const char* what;
        std::string image;
        std::vector<std::string> requests;
        std::vector<std::string> pages = {};  // intermediate pages asked for
    };
    const Case cases[] = {
        {"first matching slot wins (5 before 10)", "http://img1.imageshack.us/radikal.ru/at.th.jpg",
         gets({"http://img1.imageshack.us/radikal.ru/at.jpg"})},
        {"slot 2 before slot 5",
         "http://img5.imagevenue.com/imageshack.us/th_1.th.jpg",
         {},
         {"http://img5.imagevenue.com/img.php?loc=imageshack.us&image=1.th.jpg"}},
        {"a declining rule keeps the address from later slots",
         "http://img1.imageshack.us/radikal.ru/at.jpg",
         {}},
        {"slot 4 takes the address and does nothing", "http://radikal.ru/#############/at.jpg", {}},
        {"host keys are case-sensitive", "http://RADIKAL.RU/at.jpg", {}},
        {"an address of no service is skipped", "http://forum.test/smiley.gif", {}},
        {"a plain match", "http://radikal.ru/F/at.jpg", gets({"http://radikal.ru/F/a.jpg"})},
    };
    for (const auto& c : cases) {
        JobBench bench;
        bench.fakeTransfer.fallback = FakeAnswer::file("img");
        bench.document.images = {c.image};
        bench.run();
        EXPECT_EQ(bench.fakeTransfer.executed, c.requests) << c.what;
        EXPECT_EQ(bench.fakeDownload.requested, c.pages) << c.what;
    }
}

TEST(JobWalk, AtMost3000ImagesAndRepeatsHandledTwice) {
    JobBench bench;
    bench.fakeTransfer.fallback = FakeAnswer::file("i");
    for (int k = 1; k <= 3005; ++k) {
        bench.document.images.push_back("http://radikal.ru/" + std::to_string(k) + "t.jpg");
    }
    bench.document.images[1] = bench.document.images[0];  // the same thumbnail twice
    const JobResult result = bench.run();
    ASSERT_EQ(bench.fakeTransfer.executed.size(), 3000u);
    EXPECT_EQ(bench.fakeTransfer.executed[0], "GET http://radikal.ru/1.jpg");
    EXPECT_EQ(bench.fakeTransfer.executed[1], "GET http://radikal.ru/1.jpg");
    EXPECT_EQ(bench.fakeTransfer.executed.back(), "GET http://radikal.ru/3000.jpg");
    EXPECT_EQ(result.finishedCount, 3000);
    EXPECT_EQ(bench.messageBox.shown,
              std::vector<std::string>{"Finish|Task finished !\r\n 3000 file(s) downloaded."});
}

TEST(JobWalk, PageWithoutImages) {
    JobBench bench;
    const JobResult result = bench.run();
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.finishedCount, 0);
    EXPECT_EQ(bench.view.log, "Starting download process...\r\n");
    EXPECT_EQ(bench.view.counter, "");
    EXPECT_EQ(bench.view.opens, 1);
    // The window is filled before it is shown.
    EXPECT_EQ(bench.view.shownWith, "Starting download process...\r\n|");
    EXPECT_EQ(bench.view.closes, 1);
    EXPECT_EQ(bench.messageBox.shown,
              std::vector<std::string>{"Finish|Task finished !\r\nNo file downloaded."});
    EXPECT_TRUE(bench.shell.folders.empty());
    EXPECT_FALSE(bench.program.jobRunning);
}

TEST(JobWalk, FinishOpensTheSaveFolderAfterTheMessageAndBeforeClosing) {
    JobBench bench;
    bench.fakeTransfer.fallback = FakeAnswer::file("img");
    bench.document.images = {"http://radikal.ru/at.jpg"};
    std::vector<std::string> order;
    bench.messageBox.onShow = [&] {
        order.push_back("message, window open: " + std::to_string(bench.status->isOpen()));
    };
    bench.run();
    EXPECT_EQ(order, std::vector<std::string>{"message, window open: 1"});
    EXPECT_EQ(bench.messageBox.shown,
              std::vector<std::string>{"Finish|Task finished !\r\n 1 file(s) downloaded."});
    EXPECT_EQ(bench.shell.folders, std::vector<std::string>{bench.saveFolder.string()});
    EXPECT_FALSE(bench.status->isOpen());
}

TEST(JobWalk, ASecondStartWhileRunningDoesNothing) {
    JobBench bench;
    bench.fakeTransfer.fallback = FakeAnswer::file("img");
    bench.document.images = {"http://radikal.ru/at.jpg", "http://radikal.ru/bt.jpg"};
    JobResult inner;
    bench.fakeEventLoop.onYield = [&](int yields) {
        if (yields == 1) inner = bench.run();  // the button clicked again during the first wait
    };
    const JobResult outer = bench.run();
    EXPECT_FALSE(inner.started);
    EXPECT_TRUE(outer.started);
    EXPECT_EQ(outer.finishedCount, 2);
    EXPECT_EQ(bench.view.opens, 1);
    EXPECT_EQ(bench.messageBox.shown.size(), 1u);
}

TEST(JobWalk, AStopLeftFromBeforeDoesNotEndTheNextJob) {
    JobBench bench;
    bench.fakeTransfer.fallback = FakeAnswer::file("img");
    bench.document.images = {"http://radikal.ru/at.jpg"};
    bench.program.runState = kStopRequested;
    const JobResult result = bench.run();
    EXPECT_FALSE(result.stopped);
    EXPECT_EQ(result.finishedCount, 1);
}

TEST(JobWalk, StopEndsTheWalkAtTheNextPiece) {
    JobBench bench;
    bench.program.settings.pieceSize = 2;
    bench.fakeTransfer.fallback = FakeAnswer::file("abcdef");
    bench.document.images = {"http://radikal.ru/at.jpg", "http://radikal.ru/bt.jpg",
                             "http://radikal.ru/ct.jpg"};
    // Stop/Abort clicked while the second file's first piece is on its way.
    bench.fakeTransfer.beforeChunk = [&](std::size_t chunk) {
        if (chunk == 3) bench.status->stopClick();
    };
    const JobResult result = bench.run();
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.finishedCount, 1);
    EXPECT_EQ(bench.fakeTransfer.executed,
              gets({"http://radikal.ru/a.jpg", "http://radikal.ru/b.jpg"}));
    EXPECT_EQ(bench.view.log,
              "Starting download process...\r\nDownloading file a.jpg...OK\r\n"
              "Downloading file b.jpg...");
    EXPECT_EQ(readFile(bench.saved("b.jpg")), "ab");  // the partial file stays
    EXPECT_FALSE(std::filesystem::exists(bench.temp.path() / "failed.txt"));
    EXPECT_EQ(bench.program.runState, kRunning);
    EXPECT_EQ(bench.messageBox.shown,
              std::vector<std::string>{"Finish|Task finished !\r\n 1 file(s) downloaded."});
    EXPECT_FALSE(bench.program.jobRunning);
}

TEST(JobWalk, UnreadableDocumentGivesAnEmptyList) {
    struct ThrowingDocument : BrowserDocument {
        std::vector<std::string> imageSources() override { throw std::runtime_error("gone"); }
        std::vector<std::string> linkTargets() override { return {}; }
    } document;
    JobBench bench;
    JobServices services = *bench.services;
    JobServices patched{services.transfer,   services.urlDownload, services.urlCache,
                        services.eventLoop,  services.status,      document,
                        services.messageBox, services.shell};
    const JobResult result = runDownloadJob(bench.program, patched, "x");
    EXPECT_TRUE(result.started);
    EXPECT_EQ(bench.messageBox.shown,
              std::vector<std::string>{"Finish|Task finished !\r\nNo file downloaded."});
}

TEST(JobWalk, ANameThatCannotBeFormedNeverReusesThePreviousOne) {
    JobBench bench;
    bench.fakeTransfer.answer("http://radikal.ru/a.jpg", {FakeAnswer::file("first")});
    const std::string longUrl = "http://radikal.ru/" + std::string(40000, 'b') + ".jpg";
    bench.fakeTransfer.answer(longUrl, {FakeAnswer::file("second")});
    // The second address is too long for the field helpers: its file name cannot be formed.
    bench.document.images = {"http://radikal.ru/at.jpg",
                             "http://radikal.ru/" + std::string(40000, 'b') + "t.jpg"};
    const JobResult result = bench.run();
    EXPECT_EQ(result.finishedCount, 1);
    EXPECT_EQ(readFile(bench.saved("a.jpg")), "first");
    EXPECT_EQ(bench.failedTxt(), longUrl + "\r\n");
}

}  // namespace
}  // namespace velnoria
