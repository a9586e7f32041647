// The per-file download's decisions, on a scripted transfer control: piece arithmetic, the log,
// names, the failure log, stop and pause.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "download/fetch_file.h"
#include "tests/support/job_fakes.h"
#include "tests/support/log_texts.h"

namespace velnoria {
namespace {

using testing::FakeAnswer;
using testing::JobBench;
using testing::readFile;
using testing::writeFile;

constexpr const char* kUrl = "http://img.test/a.jpg";
const std::string& kStart = testing::kLogStart;
using testing::logLogged;
using testing::logRetry;

// Runs one fetch of kUrl as name on an opened status window; returns the job's counters.
JobContext fetch(JobBench& bench, const std::string& name, const std::string& url = kUrl) {
    JobContext job(bench.program, *bench.services);
    bench.status->open();
    fetchFile(job, {url, name});
    return job;
}

TEST(FetchFileLogic, PieceRequestsFollowTheAnnouncedLength) {
    struct Case {
        std::string announced;
        std::string body;
        int pieceSize;
        std::vector<std::size_t> pieces;  // per attempt
        bool ok;
    };
    const Case cases[] = {
        {"7", "abcdefg", 3, {3, 3, 1}, true},
        {"6", "abcdef", 3, {3, 3}, true},  // a last piece of exactly PieceSize
        {"2", "ab", 5, {2}, true},
        {"0", "", 3, {}, true},
        // Fewer bytes than announced: the short piece ends the body, then the length differs.
        {"10", "abcd", 3, {3, 3}, false},
        {"2147483647", "abcd", 1, {1, 1, 1, 1, 1}, false},
        // More bytes than announced: only the announced ones are read.
        {"3", "abcdef", 2, {2, 1}, true},
    };
    for (const auto& c : cases) {
        JobBench bench;
        bench.program.settings.pieceSize = c.pieceSize;
        FakeAnswer answer;
        answer.contentLength = c.announced;
        answer.body = c.body;
        bench.fakeTransfer.answer(kUrl, {answer});
        const JobContext job = fetch(bench, "a.jpg");
        const int attempts = c.ok ? 1 : 3;
        std::vector<std::size_t> expected;
        for (int i = 0; i < attempts; ++i) {
            expected.insert(expected.end(), c.pieces.begin(), c.pieces.end());
        }
        EXPECT_EQ(bench.fakeTransfer.chunkRequests, expected) << "announced " << c.announced;
        EXPECT_EQ(job.finishedCount, c.ok ? 1 : 0) << "announced " << c.announced;
        EXPECT_EQ(readFile(bench.saved("a.jpg")), c.body.substr(0, std::stoul(c.announced)));
        EXPECT_EQ(bench.view.maximum, std::stod(c.announced));
        ASSERT_FALSE(bench.view.values.empty());
        EXPECT_EQ(bench.view.values.back(), std::stod(c.announced));
    }
}

TEST(FetchFileLogic, ProgressValueBeforeEveryPiece) {
    JobBench bench;
    bench.program.settings.pieceSize = 4;
    bench.fakeTransfer.answer(kUrl, {FakeAnswer::file("0123456789")});
    fetch(bench, "a.jpg");
    EXPECT_EQ(bench.view.values, (std::vector<double>{0, 4, 8, 10}));
}

TEST(FetchFileLogic, VerdictsAndLogText) {
    struct Case {
        const char* what;
        std::vector<FakeAnswer> answers;
        std::string log;
        int finished;
        std::string failed;  // "failed.txt" afterwards
    };
    FakeAnswer serverError = FakeAnswer::file("body");
    serverError.headerBlock = "HTTP/1.1 500 Internal Server Error\r\n";
    FakeAnswer unable = FakeAnswer::file("body");
    unable.headerBlock = "HTTP/1.1 200 OK\r\nX-Info: Unable to complete request\r\n";
    FakeAnswer notFound = FakeAnswer::file("body");
    notFound.headerBlock = "HTTP/1.1 404 Not Found\r\n";
    FakeAnswer broken = FakeAnswer::file("0123456789");
    broken.breakAfter = 4;
    FakeAnswer refused;
    refused.failureCode = 7;
    FakeAnswer badRequest = FakeAnswer::file("body");
    badRequest.headerBlock = "HTTP/1.1 400 Bad Request\r\n";
    FakeAnswer htmlType = FakeAnswer::file("GIF89a");
    htmlType.headerBlock = "HTTP/1.1 200 OK\r\nContent-Type: Text/HTML; charset=utf-8\r\n";
    const FakeAnswer htmlBody = FakeAnswer::file(" \r\n\t<!doctype HTML><title>Gone</title>");
    const FakeAnswer htmlTag = FakeAnswer::file("<HTML lang=en>");
    const FakeAnswer notHtml = FakeAnswer::file("x<html>");
    const std::string once = "Downloading file a.jpg...";
    const auto threeTimes = [&](const std::string& reason) {
        return kStart + once + logRetry(reason) + once + logRetry(reason) + once +
               logLogged(reason);
    };
    const std::string logged = std::string(kUrl) + "\r\n";
    const Case cases[] = {
        {"first attempt", {FakeAnswer::file("body")}, kStart + once + "OK\r\n", 1, ""},
        {"refused three times", {refused}, threeTimes("failure code 7"), 0, logged},
        {"500 then fine",
         {serverError, FakeAnswer::file("body")},
         kStart + once + logRetry("HTTP 500") + once + "OK\r\n",
         1,
         ""},
        {"marker text",
         {unable},
         threeTimes("server error: Unable to complete request"),
         0,
         logged},
        {"404", {notFound}, threeTimes("HTTP 404"), 0, logged},
        {"400, the lowest error status", {badRequest}, threeTimes("HTTP 400"), 0, logged},
        {"broken body then fine",
         {broken, broken, FakeAnswer::file("0123456789")},
         kStart + once + logRetry("failure code 56") + once + logRetry("failure code 56") + once +
             "OK\r\n",
         1,
         ""},
        {"HTML by its type", {htmlType}, threeTimes("not an image: HTML page"), 0, logged},
        {"HTML by its start", {htmlBody}, threeTimes("not an image: HTML page"), 0, logged},
        {"HTML tag first", {htmlTag}, threeTimes("not an image: HTML page"), 0, logged},
        {"markup later is no page", {notHtml}, kStart + once + "OK\r\n", 1, ""},
    };
    for (const auto& c : cases) {
        JobBench bench;
        bench.program.settings.pieceSize = 3;
        bench.fakeTransfer.answer(kUrl, c.answers);
        const JobContext job = fetch(bench, "a.jpg");
        EXPECT_EQ(bench.view.log, c.log) << c.what;
        EXPECT_EQ(job.finishedCount, c.finished) << c.what;
        EXPECT_EQ(bench.failedTxt(), c.failed) << c.what;
        const auto failures =
            bench.fakeTransfer.executed.size() - static_cast<std::size_t>(c.finished);
        EXPECT_EQ(bench.cache.deleted, std::vector<std::string>(failures, kUrl)) << c.what;
        EXPECT_EQ(bench.view.counter,
                  "Download in progress... " + std::to_string(c.finished) + " files finished.\r\n")
            << c.what;
    }
}

TEST(FetchFileLogic, ErrorAnswersAreStillWritten) {
    JobBench bench;
    FakeAnswer serverError = FakeAnswer::file("error page");
    serverError.headerBlock = "HTTP/1.1 500 Internal Server Error\r\n";
    bench.fakeTransfer.answer(kUrl, {serverError});
    fetch(bench, "a.jpg");
    EXPECT_EQ(readFile(bench.saved("a.jpg")), "error page");
    EXPECT_EQ(bench.failedTxt(), std::string(kUrl) + "\r\n");
}

TEST(FetchFileLogic, WithoutALengthTheWholeBodyIsFetchedSeparately) {
    struct Case {
        const char* what;
        std::optional<std::string> contentLength;
        testing::FakeUrlDownload::Page page;
        bool ok;
        std::string reason = {};
    };
    const Case cases[] = {
        {"no header", std::nullopt, {"whole", 200, true}, true},
        {"not a number", "12abc", {"whole", 200, true}, true},
        {"negative", "-1", {"whole", 200, true}, true},
        {"too large", "2147483648", {"whole", 200, true}, true},
        {"empty body", std::nullopt, {"", 200, true}, true},
        {"error status", std::nullopt, {"missing", 404, true}, false, "HTTP 404"},
        {"broken transfer", std::nullopt, {"par", 200, false}, false, "transfer failed"},
        {"HTML page", std::nullopt, {"<html>", 200, true}, false, "not an image: HTML page"},
    };
    const std::string warned =
        "Downloading file a.jpg...\r\nWarning! Unknown file size, trying alternative method for "
        "download...";
    for (const auto& c : cases) {
        JobBench bench;
        FakeAnswer answer;
        answer.contentLength = c.contentLength;
        answer.body = "never read";
        bench.fakeTransfer.answer(kUrl, {answer});
        bench.fakeDownload.serve(kUrl, c.page);
        const JobContext job = fetch(bench, "a.jpg");
        EXPECT_TRUE(bench.fakeTransfer.chunkRequests.empty()) << c.what;
        EXPECT_EQ(bench.view.values, std::vector<double>{0}) << c.what;
        EXPECT_EQ(bench.view.maximum, 100) << c.what;
        if (c.ok) {
            EXPECT_EQ(bench.view.log, kStart + warned + "OK\r\n") << c.what;
            EXPECT_EQ(readFile(bench.saved("a.jpg")), c.page.body) << c.what;
        } else {
            EXPECT_EQ(bench.view.log, kStart + warned + logRetry(c.reason) + warned +
                                          logRetry(c.reason) + warned + logLogged(c.reason))
                << c.what;
            EXPECT_EQ(bench.fakeDownload.requested.size(), 3u) << c.what;
        }
        EXPECT_EQ(job.finishedCount, c.ok ? 1 : 0) << c.what;
    }
}

TEST(FetchFileLogic, AnExistingFileIsReplaced) {
    JobBench bench;
    writeFile(bench.saved("a.jpg"), "an older and much longer file");
    bench.fakeTransfer.answer(kUrl, {FakeAnswer::file("new")});
    const JobContext job = fetch(bench, "a.jpg");
    EXPECT_EQ(job.finishedCount, 1);
    EXPECT_EQ(readFile(bench.saved("a.jpg")), "new");
}

TEST(FetchFileLogic, UnsafeNamesWriteNothingAndAreLogged) {
    struct Case {
        std::string name;
        std::string display;
        std::string savedAs;  // "" when nothing may be written
    };
    const Case cases[] = {
        {"../../evil.jpg", "evil.jpg", "evil.jpg"},
        {"..\\..\\evil.jpg", "evil.jpg", "evil.jpg"},
        {"", "", ""},
        {"..", "", ""},
        {".", "", ""},
        {"dir/", "", ""},
        {std::string("a\0b", 3), "", ""},
        {"bell\a.jpg", "", ""},
        {"csi\xC2\x9B"
         "2J.jpg",
         "", ""},
        {"latin1-\xE9t\xE9.jpg", "", ""},
        {"caf\xC3\xA9.jpg", "caf\xC3\xA9.jpg", "caf\xC3\xA9.jpg"},
        {".bashrc", "_bashrc", "_bashrc"},
        {"../settings.dat", "_settings.dat", "_settings.dat"},
        {"FAILED.TXT", "_FAILED.TXT", "_FAILED.TXT"},
        {"choices.conf", "_choices.conf", "_choices.conf"},
    };
    for (const bool withLength : {true, false}) {
        for (const auto& c : cases) {
            JobBench bench;
            FakeAnswer answer = FakeAnswer::file("bytes");
            if (!withLength) answer.contentLength.reset();
            bench.fakeTransfer.answer(kUrl, {answer});
            bench.fakeDownload.serve(kUrl, {"bytes", 200, true});
            const JobContext job = fetch(bench, c.name);
            const std::string what = c.name + (withLength ? " (pieces)" : " (whole)");
            if (c.savedAs.empty()) {
                EXPECT_EQ(job.finishedCount, 0) << what;
                EXPECT_EQ(bench.failedTxt(), std::string(kUrl) + "\r\n") << what;
                EXPECT_TRUE(std::filesystem::is_empty(bench.saveFolder)) << what;
                EXPECT_TRUE(bench.fakeDownload.requested.empty()) << what;
            } else {
                EXPECT_EQ(job.finishedCount, 1) << what;
                EXPECT_EQ(readFile(bench.saved(c.savedAs)), "bytes") << what;
            }
            EXPECT_EQ(bench.view.log.substr(0, kStart.size() + 17 + c.display.size() + 3),
                      kStart + "Downloading file " + c.display + "...")
                << what;
            // Nothing beside the save folder and the failure log in the work folder.
            for (const auto& name : bench.workFolderFiles()) {
                EXPECT_TRUE(name == "images" || name == "failed.txt") << what << ": " << name;
            }
        }
    }
}

TEST(FetchFileLogic, ASymbolicLinkAtTheTargetIsNotFollowed) {
    JobBench bench;
    const auto outside = bench.temp.path() / "outside.txt";
    writeFile(outside, "keep me");
    std::filesystem::create_symlink(outside, bench.saved("a.jpg"));
    bench.fakeTransfer.answer(kUrl, {FakeAnswer::file("bytes")});
    const JobContext job = fetch(bench, "a.jpg");
    EXPECT_EQ(job.finishedCount, 0);
    EXPECT_EQ(readFile(outside), "keep me");
    EXPECT_EQ(bench.failedTxt(), std::string(kUrl) + "\r\n");
}

TEST(FetchFileLogic, TheCountStopsAt32767) {
    JobBench bench;
    bench.fakeTransfer.answer(kUrl, {FakeAnswer::file("x")});
    JobContext job(bench.program, *bench.services);
    bench.status->open();
    job.finishedCount = 32767;
    fetchFile(job, {kUrl, "a.jpg"});
    EXPECT_EQ(job.finishedCount, 32767);
    EXPECT_EQ(bench.view.counter, "Download in progress... 32767 files finished.\r\n");
}

TEST(FetchFileLogic, PauseAndContinueInTheRequestWaitLoseNothing) {
    JobBench bench;
    bench.program.settings.pieceSize = 2;
    bench.fakeTransfer.answer(kUrl, {FakeAnswer::file("abcde")});
    std::vector<std::string> seen;
    bench.fakeEventLoop.onYield = [&](int yields) {
        if (yields == 1) {
            bench.status->pauseClick();  // returns only after Continue
            seen.push_back("resumed, state " + std::to_string(bench.program.runState) +
                           ", stop enabled " + std::to_string(bench.view.stopEnabled));
        } else if (yields == 3) {
            seen.push_back("paused: " + bench.view.counter + ", stop enabled " +
                           std::to_string(bench.view.stopEnabled));
            bench.status->pauseClick();  // "Continue", nested in the first handler
        }
    };
    const JobContext job = fetch(bench, "a.jpg");
    EXPECT_EQ(seen, (std::vector<std::string>{"paused: Paused, stop enabled 0",
                                              "resumed, state 0, stop enabled 1"}));
    EXPECT_EQ(job.finishedCount, 1);
    EXPECT_EQ(bench.fakeTransfer.executed.size(), 1u);
    EXPECT_EQ(bench.view.log, kStart + "Downloading file a.jpg...OK\r\n");
    EXPECT_EQ(readFile(bench.saved("a.jpg")), "abcde");
}

TEST(FetchFileLogic, StopThenPauseWithdrawsTheStop) {
    JobBench bench;
    bench.program.settings.pieceSize = 2;
    bench.fakeTransfer.answer(kUrl, {FakeAnswer::file("abcde")});
    bench.fakeEventLoop.onYield = [&](int yields) {
        if (yields == 1) {
            bench.status->stopClick();
            bench.status->pauseClick();  // the stop request is withdrawn, no pause happens
        }
    };
    const JobContext job = fetch(bench, "a.jpg");
    EXPECT_EQ(job.finishedCount, 1);
    EXPECT_EQ(readFile(bench.saved("a.jpg")), "abcde");
}

TEST(FetchFileLogic, StopBeforeAPieceEndsTheJobWithoutAVerdict) {
    JobBench bench;
    bench.program.settings.pieceSize = 2;
    bench.fakeTransfer.answer(kUrl, {FakeAnswer::file("abcdef")});
    bench.fakeTransfer.beforeChunk = [&](std::size_t chunk) {
        if (chunk == 1) bench.status->stopClick();
    };
    JobContext job(bench.program, *bench.services);
    bench.status->open();
    EXPECT_THROW(fetchFile(job, {kUrl, "a.jpg"}), JobStopped);
    EXPECT_EQ(bench.fakeTransfer.chunkRequests, (std::vector<std::size_t>{2, 2}));
    EXPECT_EQ(readFile(bench.saved("a.jpg")), "abcd");
    EXPECT_EQ(bench.view.log, kStart + "Downloading file a.jpg...");
    EXPECT_EQ(bench.program.runState, kRunning);
    EXPECT_GE(bench.fakeTransfer.cancels, 1);
    EXPECT_EQ(job.finishedCount, 0);
    EXPECT_FALSE(std::filesystem::exists(bench.temp.path() / "failed.txt"));
}

}  // namespace
}  // namespace velnoria
