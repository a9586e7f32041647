// The per-file download's decisions, on a scripted transfer engine: the bar, the log, names,
// the failure log, what is left on disk, stop and pause.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "download/fetch_file.h"
#include "tests/support/job_fakes.h"
#include "tests/support/log_texts.h"

namespace velnoria {
namespace {

using testing::FakeReply;
using testing::JobBench;
using testing::readFile;
using testing::writeFile;

constexpr const char* kUrl = "http://img.test/a.jpg";
const std::string& kStart = testing::kLogStart;
using testing::logLogged;
using testing::logRetry;

// Fetches kUrl as name in a job of its own; returns the job's counts.
JobCounts fetch(JobBench& bench, const std::string& name, const std::string& url = kUrl) {
    return bench.fetch({url, name});
}

TEST(FetchFileLogic, TheBarMovesOncePerPieceOfTheAnnouncedLength) {
    struct Case {
        std::string announced;
        std::string body;
        int pieceSize;
        std::vector<double> values;  // of one attempt
        bool ok;
    };
    const Case cases[] = {
        {"7", "abcdefg", 3, {0, 3, 6, 7}, true},
        {"6", "abcdef", 3, {0, 3, 6}, true},  // a last piece of exactly PieceSize
        {"2", "ab", 5, {0, 2}, true},
        {"0", "", 3, {0}, true},
        // Fewer bytes than announced: the bar ends full all the same, the length differs.
        {"10", "abcd", 3, {0, 3, 10}, false},
        {"2147483647", "abcd", 1, {0, 1, 2, 3, 4, 2147483647}, false},
        // More bytes than announced: only the announced ones are read.
        {"3", "abcdef", 2, {0, 2, 3}, true},
    };
    for (const auto& c : cases) {
        JobBench bench;
        bench.program.settings.pieceSize = c.pieceSize;
        bench.fakeEngine.bytesPerStep = 1;
        FakeReply reply;
        reply.contentLength = c.announced;
        reply.body = c.body;
        bench.fakeEngine.answer(kUrl, {reply});
        const JobCounts counts = fetch(bench, "a.jpg");
        std::vector<double> expected;
        for (int i = 0; i < (c.ok ? 1 : 3); ++i) {
            expected.insert(expected.end(), c.values.begin(), c.values.end());
        }
        EXPECT_EQ(bench.view.values, expected) << "announced " << c.announced;
        EXPECT_EQ(counts.finished, c.ok ? 1 : 0) << "announced " << c.announced;
        EXPECT_EQ(std::filesystem::exists(bench.saved("a.jpg")), c.ok)
            << "announced " << c.announced;
        if (c.ok) {
            EXPECT_EQ(readFile(bench.saved("a.jpg")), c.body.substr(0, std::stoul(c.announced)));
        }
        EXPECT_EQ(bench.view.maximum, std::stod(c.announced));
    }
}

TEST(FetchFileLogic, VerdictsAndLogText) {
    struct Case {
        const char* what;
        std::vector<FakeReply> answers;
        std::string log;
        int finished;
        std::string failed;  // "failed.txt" afterwards
    };
    FakeReply serverError = FakeReply::file("body");
    serverError.headerBlock = "HTTP/1.1 500 Internal Server Error\r\n";
    FakeReply unable = FakeReply::file("body");
    unable.headerBlock = "HTTP/1.1 200 OK\r\nX-Info: Unable to complete request\r\n";
    FakeReply notFound = FakeReply::file("body");
    notFound.headerBlock = "HTTP/1.1 404 Not Found\r\n";
    FakeReply broken = FakeReply::file("0123456789");
    broken.breakAfter = 4;
    FakeReply refused;
    refused.failureCode = 7;
    FakeReply badRequest = FakeReply::file("body");
    badRequest.headerBlock = "HTTP/1.1 400 Bad Request\r\n";
    FakeReply htmlType = FakeReply::file("GIF89a");
    htmlType.headerBlock = "HTTP/1.1 200 OK\r\nContent-Type: Text/HTML; charset=utf-8\r\n";
    const FakeReply htmlBody = FakeReply::file(" \r\n\t<!doctype HTML><title>Gone</title>");
    const FakeReply htmlTag = FakeReply::file("<HTML lang=en>");
    const FakeReply notHtml = FakeReply::file("x<html>");
    const std::string once = "Downloading file a.jpg...";
    const auto threeTimes = [&](const std::string& reason) {
        return kStart + once + logRetry(reason) + once + logRetry(reason) + once +
               logLogged(reason);
    };
    const std::string logged = std::string(kUrl) + "\r\n";
    const Case cases[] = {
        {"first attempt", {FakeReply::file("body")}, kStart + once + "OK\r\n", 1, ""},
        {"refused three times", {refused}, threeTimes("failure code 7"), 0, logged},
        {"500 then fine",
         {serverError, FakeReply::file("body")},
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
         {broken, broken, FakeReply::file("0123456789")},
         kStart + once + logRetry("connection reset") + once + logRetry("connection reset") + once +
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
        bench.fakeEngine.answer(kUrl, c.answers);
        const JobCounts counts = fetch(bench, "a.jpg");
        EXPECT_EQ(bench.view.log, c.log) << c.what;
        EXPECT_EQ(counts.finished, c.finished) << c.what;
        EXPECT_EQ(bench.failedTxt(), c.failed) << c.what;
        const auto failures =
            bench.fakeEngine.started.size() - static_cast<std::size_t>(c.finished);
        EXPECT_EQ(bench.cache.deleted, std::vector<std::string>(failures, kUrl)) << c.what;
        EXPECT_EQ(bench.view.counter,
                  "Download in progress... " + std::to_string(c.finished) + " files finished.\r\n")
            << c.what;
    }
}

TEST(FetchFileLogic, AFailedDownloadLeavesNothingUnderItsName) {
    FakeReply serverError = FakeReply::file("error page");
    serverError.headerBlock = "HTTP/1.1 500 Internal Server Error\r\n";
    FakeReply notFound = FakeReply::file("<html>gone</html>");
    notFound.headerBlock = "HTTP/1.1 404 Not Found\r\n";
    FakeReply cut = FakeReply::file("0123456789");
    cut.breakAfter = 4;
    FakeReply unannouncedCut;
    unannouncedCut.body = "0123456789";
    unannouncedCut.breakAfter = 4;
    const struct Case {
        const char* what;
        FakeReply reply;
    } cases[] = {
        {"500 with a page", serverError},
        {"404 with a page", notFound},
        {"HTML page", FakeReply::file("<html>")},
        {"cut body", cut},
        {"cut body without a length", unannouncedCut},
    };
    for (const auto& c : cases) {
        for (const bool nameWasTaken : {false, true}) {
            JobBench bench;
            if (nameWasTaken) writeFile(bench.saved("a.jpg"), "the old picture");
            bench.fakeEngine.answer(kUrl, {c.reply});
            fetch(bench, "a.jpg");
            EXPECT_EQ(bench.failedTxt(), std::string(kUrl) + "\r\n") << c.what;
            // The old file as it was, or nothing at all: no temporary file either.
            EXPECT_EQ(testing::namesIn(bench.saveFolder),
                      nameWasTaken ? std::vector<std::string>{"a.jpg"} : std::vector<std::string>{})
                << c.what;
            if (nameWasTaken) {
                EXPECT_EQ(readFile(bench.saved("a.jpg")), "the old picture") << c.what;
            }
        }
    }
}

TEST(FetchFileLogic, WithoutALengthTheBodyIsTakenWhole) {
    struct Case {
        const char* what;
        FakeReply reply;
        bool ok;
        std::string reason = {};
    };
    FakeReply missing = FakeReply::status(404, "missing");
    missing.contentLength.reset();
    FakeReply broken;
    broken.body = "partial";
    broken.breakAfter = 3;
    FakeReply whole;
    whole.body = "whole";
    FakeReply html;
    html.body = "<html>";
    const Case cases[] = {
        {"no header", whole, true},
        {"empty body", FakeReply{}, true},
        {"error status", missing, false, "HTTP 404"},
        {"broken transfer", broken, false, "connection reset"},
        {"HTML page", html, false, "not an image: HTML page"},
    };
    const std::string warned =
        "Downloading file a.jpg...\r\nWarning! Unknown file size, trying alternative method for "
        "download...";
    for (const auto& c : cases) {
        JobBench bench;
        bench.fakeEngine.answer(kUrl, {c.reply});
        const JobCounts counts = fetch(bench, "a.jpg");
        EXPECT_EQ(bench.view.maximum, 100) << c.what;
        if (c.ok) {
            EXPECT_EQ(bench.view.values, std::vector<double>{0}) << c.what;
            EXPECT_EQ(bench.view.log, kStart + warned + "OK\r\n") << c.what;
            EXPECT_EQ(readFile(bench.saved("a.jpg")), c.reply.body) << c.what;
            EXPECT_EQ(bench.fakeEngine.started.size(), 1u) << c.what;
        } else {
            EXPECT_EQ(bench.view.log, kStart + warned + logRetry(c.reason) + warned +
                                          logRetry(c.reason) + warned + logLogged(c.reason))
                << c.what;
            EXPECT_EQ(bench.fakeEngine.started.size(), 3u) << c.what;
        }
        EXPECT_EQ(counts.finished, c.ok ? 1 : 0) << c.what;
    }
}

TEST(FetchFileLogic, AfterACutBodyOnlyTheRestIsAskedFor) {
    FakeReply cut = FakeReply::file("0123456789");
    cut.headerBlock = "HTTP/1.1 200 OK\r\nETag: \"v1\"\r\n";
    cut.breakAfter = 4;
    FakeReply rest = FakeReply::status(206, "456789");
    rest.headerBlock += "Content-Range: bytes 4-9/10\r\n";
    FakeReply wrongRange = FakeReply::status(206, "23456789");
    wrongRange.headerBlock += "Content-Range: bytes 2-9/10\r\n";
    FakeReply changed = FakeReply::file("the new file");  // If-Range did not hold: all of it
    struct Case {
        const char* what;
        std::vector<FakeReply> replies;
        std::vector<std::uint64_t> resumedFrom;  // of each request
        std::string saved;
        std::string log;
    };
    const std::string once = "Downloading file a.jpg...";
    const Case cases[] = {
        {"the server sends the rest",
         {cut, rest},
         {0, 4},
         "0123456789",
         once + logRetry("connection reset") + once + "OK\r\n"},
        {"the server sends all of it again",
         {cut, FakeReply::file("0123456789")},
         {0, 4},
         "0123456789",
         once + logRetry("connection reset") + once + "OK\r\n"},
        {"the file changed meanwhile",
         {cut, changed},
         {0, 4},
         "the new file",
         once + logRetry("connection reset") + once + "OK\r\n"},
        {"a part that is not the rest, then the whole file",
         {cut, wrongRange, FakeReply::file("0123456789")},
         {0, 4, 0},
         "0123456789",
         once + logRetry("connection reset") + once +
             logRetry("invalid answer: Content-Range bytes 2-9/10") + once + "OK\r\n"},
    };
    for (const auto& c : cases) {
        JobBench bench;
        bench.fakeEngine.bytesPerStep = 2;
        bench.fakeEngine.answer(kUrl, c.replies);
        fetch(bench, "a.jpg");
        std::vector<std::uint64_t> resumed;
        for (const auto& request : bench.fakeEngine.requests) resumed.push_back(request.resumeFrom);
        EXPECT_EQ(resumed, c.resumedFrom) << c.what;
        EXPECT_EQ(bench.fakeEngine.requests[1].ifRange, "\"v1\"") << c.what;
        EXPECT_EQ(readFile(bench.saved("a.jpg")), c.saved) << c.what;
        EXPECT_EQ(bench.view.log, kStart + c.log) << c.what;
        EXPECT_EQ(testing::namesIn(bench.saveFolder), std::vector<std::string>{"a.jpg"}) << c.what;
    }
}

TEST(FetchFileLogic, AServerThatAsksForAPauseGetsIt) {
    FakeReply busy = FakeReply::status(503, "busy");
    busy.headerBlock += "Retry-After: 1\r\n";
    JobBench bench;
    bench.fakeEngine.answer(kUrl, {busy, FakeReply::file("picture")});
    const auto start = std::chrono::steady_clock::now();
    const JobCounts counts = fetch(bench, "a.jpg");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(counts.finished, 1);
    EXPECT_EQ(bench.view.log, kStart + "Downloading file a.jpg..." +
                                  logRetry("HTTP 503, next attempt in 1 s") +
                                  "Downloading file a.jpg...OK\r\n");

    // A pause of 1,000 s is held to a minute, and Stop/Abort ends it at once.
    FakeReply slow = FakeReply::status(429, "slow down");
    slow.headerBlock += "Retry-After: 1000\r\n";
    JobBench stopped;
    stopped.fakeEngine.answer(kUrl, {slow});
    const auto job = stopped.beginJob();
    const auto pausedAt = std::chrono::steady_clock::now();
    stopped.fakeEventLoop.onYield = [&](int) {
        if (std::chrono::steady_clock::now() - pausedAt > std::chrono::milliseconds(300)) {
            stopped.status->stopClick();
        }
    };
    EXPECT_THROW(fetchFile(job->job(), {kUrl, "a.jpg"}), JobStopped);
    EXPECT_LT(std::chrono::steady_clock::now() - pausedAt, std::chrono::seconds(5));
    EXPECT_EQ(stopped.view.log,
              kStart + "Downloading file a.jpg..." + logRetry("HTTP 429, next attempt in 60 s"));
    EXPECT_EQ(stopped.fakeEngine.started.size(), 1u);
    EXPECT_EQ(stopped.failedTxt(), "");
}

TEST(FetchFileLogic, AnExistingFileIsReplaced) {
    JobBench bench;
    writeFile(bench.saved("a.jpg"), "an older and much longer file");
    bench.fakeEngine.answer(kUrl, {FakeReply::file("new")});
    const JobCounts counts = fetch(bench, "a.jpg");
    EXPECT_EQ(counts.finished, 1);
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
            FakeReply answer = FakeReply::file("bytes");
            if (!withLength) answer.contentLength.reset();
            bench.fakeEngine.answer(kUrl, {answer});
            const JobCounts counts = fetch(bench, c.name);
            const std::string what = c.name + (withLength ? " (pieces)" : " (whole)");
            if (c.savedAs.empty()) {
                EXPECT_EQ(counts.finished, 0) << what;
                EXPECT_EQ(bench.failedTxt(), std::string(kUrl) + "\r\n") << what;
                EXPECT_TRUE(std::filesystem::is_empty(bench.saveFolder)) << what;
                EXPECT_TRUE(bench.fakeEngine.started.empty()) << what;
            } else {
                EXPECT_EQ(counts.finished, 1) << what;
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
    bench.fakeEngine.answer(kUrl, {FakeReply::file("bytes")});
    const JobCounts counts = fetch(bench, "a.jpg");
    EXPECT_EQ(counts.finished, 0);
    EXPECT_EQ(readFile(outside), "keep me");
    EXPECT_EQ(bench.failedTxt(), std::string(kUrl) + "\r\n");
}

TEST(FetchFileLogic, TheCountStopsAt32767) {
    JobBench bench;
    bench.fakeEngine.answer(kUrl, {FakeReply::file("x")});
    const auto job = bench.beginJob();
    job->job().counts.finished = 32767;
    fetchFile(job->job(), {kUrl, "a.jpg"});
    EXPECT_EQ(job->job().counts.finished, 32767);
    EXPECT_EQ(bench.view.counter, "Download in progress... 32767 files finished.\r\n");
}

TEST(FetchFileLogic, PauseAndContinueInTheRequestWaitLoseNothing) {
    JobBench bench;
    bench.program.settings.pieceSize = 2;
    bench.fakeEngine.answer(kUrl, {FakeReply::file("abcde")});
    std::vector<std::string> seen;
    bench.fakeEventLoop.onYield = [&](int yields) {
        if (yields == 1) {
            bench.status->pauseClick();  // returns only after Continue
            seen.push_back("resumed, state " +
                           std::to_string(static_cast<int>(bench.program.runState)) +
                           ", stop enabled " + std::to_string(bench.view.stopEnabled));
        } else if (yields == 3) {
            seen.push_back("paused: " + bench.view.counter + ", stop enabled " +
                           std::to_string(bench.view.stopEnabled));
            bench.status->pauseClick();  // "Continue", nested in the first handler
        }
    };
    const JobCounts counts = fetch(bench, "a.jpg");
    EXPECT_EQ(seen, (std::vector<std::string>{"paused: Paused, stop enabled 0",
                                              "resumed, state 0, stop enabled 1"}));
    EXPECT_EQ(counts.finished, 1);
    EXPECT_EQ(bench.fakeEngine.started.size(), 1u);
    EXPECT_EQ(bench.view.log, kStart + "Downloading file a.jpg...OK\r\n");
    EXPECT_EQ(readFile(bench.saved("a.jpg")), "abcde");
}

TEST(FetchFileLogic, StopThenPauseWithdrawsTheStop) {
    JobBench bench;
    bench.program.settings.pieceSize = 2;
    bench.fakeEngine.answer(kUrl, {FakeReply::file("abcde")});
    bench.fakeEventLoop.onYield = [&](int yields) {
        if (yields == 1) {
            bench.status->stopClick();
            bench.status->pauseClick();  // the stop request is withdrawn, no pause happens
        }
    };
    const JobCounts counts = fetch(bench, "a.jpg");
    EXPECT_EQ(counts.finished, 1);
    EXPECT_EQ(readFile(bench.saved("a.jpg")), "abcde");
}

TEST(FetchFileLogic, StopInTheBodyEndsTheJobWithoutAVerdictAndLeavesNothing) {
    for (const bool nameWasTaken : {false, true}) {
        JobBench bench;
        if (nameWasTaken) writeFile(bench.saved("a.jpg"), "the old picture");
        bench.fakeEngine.bytesPerStep = 2;
        bench.fakeEngine.answer(kUrl, {FakeReply::file("abcdef")});
        // The headers and a first piece have come when Stop/Abort is clicked.
        bench.fakeEventLoop.onYield = [&](int yields) {
            if (yields == 2) bench.status->stopClick();
        };
        const auto job = bench.beginJob();
        EXPECT_THROW(fetchFile(job->job(), {kUrl, "a.jpg"}), JobStopped);
        EXPECT_EQ(bench.view.log, kStart + "Downloading file a.jpg...");
        EXPECT_EQ(bench.program.runState, RunState::Running);
        EXPECT_GE(bench.fakeEngine.cancels, 1);
        EXPECT_EQ(bench.fakeEngine.running(), 0u);
        EXPECT_EQ(job->job().counts.finished, 0);
        EXPECT_FALSE(std::filesystem::exists(bench.temp.path() / "failed.txt"));
        EXPECT_EQ(testing::namesIn(bench.saveFolder),
                  nameWasTaken ? std::vector<std::string>{"a.jpg"} : std::vector<std::string>{});
        if (nameWasTaken) {
            EXPECT_EQ(readFile(bench.saved("a.jpg")), "the old picture");
        }
    }
}

}  // namespace
}  // namespace velnoria
