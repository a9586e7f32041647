// The job from "Start Download" to the final message, on fake platform pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "download/download_job.h"
#include "download/rules/rules_file.h"
#include "tests/support/job_fakes.h"
#include "tests/support/log_texts.h"

namespace velnoria {
namespace {

using testing::FakePage;
using testing::FakeReply;
using testing::JobBench;
using testing::kLogStart;
using testing::readFile;

// Rules every test of the rules file's part of the walk uses: a rewrite that takes over a
// built-in service, a page search, and a link rule.
const char* const kRules = R"toml(
[[rule]]
name = "radikal big"
match = '^http://radikal\.ru/big/(\w+)t\.jpg'
full = "http://radikal.ru/huge/$1.jpg"

[[rule]]
name = "view page"
match = '^http://thumbs\.view\.test/(?P<id>\w+)\.jpg'
page = "http://view.test/v/${id}"
find = '<meta property="og:image" content="([^"]+)"(?: data-name="(?P<name>[^"]*)")?'
file = "${id}-${name}.jpg"

[[rule]]
name = "by link"
on = "link"
match = '^http://links\.test/photo/(\d+)'
full = "/download/$1.jpg"
file = "$1.jpg"
)toml";

void useRules(JobBench& bench, const char* text = kRules) {
    const RulesFile file = parseRulesText(text, "rules.toml");
    ASSERT_TRUE(file.problems.empty()) << file.problems.front().text();
    bench.options.fileRules = file.rules;
}

std::string viewPage(const std::string& content, const std::string& more = "") {
    return "<html><head><title>x</title>\n<meta property=\"og:image\" content=\"" + content +
           "\">" + more + "</head></html>";
}

std::vector<std::string> gets(std::initializer_list<std::string> urls) {
    std::vector<std::string> out;
    for (const auto& url : urls) out.push_back("GET " + url);
    return out;
}

// Every request of an image's walk: its pages first, then its files.
std::vector<std::string> pagesThen(const std::vector<std::string>& pages,
                                   const std::vector<std::string>& files) {
    std::vector<std::string> all;
    for (const auto& page : pages) all.push_back("GET " + page);
    all.insert(all.end(), files.begin(), files.end());
    return all;
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
        bench.fakeEngine.fallback = FakeReply::file("img");
        bench.document.images = {c.image};
        bench.run();
        EXPECT_EQ(bench.fakeEngine.started, pagesThen(c.pages, c.requests)) << c.what;
    }
}

TEST(JobWalk, AtMost3000ImagesAndRepeatsHandledTwice) {
    JobBench bench;
    bench.fakeEngine.fallback = FakeReply::file("i");
    for (int k = 1; k <= 3005; ++k) {
        bench.document.images.push_back("http://radikal.ru/" + std::to_string(k) + "t.jpg");
    }
    bench.document.images[1] = bench.document.images[0];  // the same thumbnail twice
    const JobResult result = bench.run();
    ASSERT_EQ(bench.fakeEngine.started.size(), 3000u);
    EXPECT_EQ(bench.fakeEngine.started[0], "GET http://radikal.ru/1.jpg");
    EXPECT_EQ(bench.fakeEngine.started[1], "GET http://radikal.ru/1.jpg");
    EXPECT_EQ(bench.fakeEngine.started.back(), "GET http://radikal.ru/3000.jpg");
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
    bench.fakeEngine.fallback = FakeReply::file("img");
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
    bench.fakeEngine.fallback = FakeReply::file("img");
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
    bench.fakeEngine.fallback = FakeReply::file("img");
    bench.document.images = {"http://radikal.ru/at.jpg"};
    bench.program.runState = RunState::StopRequested;
    const JobResult result = bench.run();
    EXPECT_FALSE(result.stopped);
    EXPECT_EQ(result.finishedCount, 1);
}

TEST(JobWalk, StopEndsTheWalkAtOnce) {
    JobBench bench;
    bench.program.settings.pieceSize = 2;
    bench.fakeEngine.bytesPerStep = 2;
    bench.fakeEngine.fallback = FakeReply::file("abcdef");
    bench.document.images = {"http://radikal.ru/at.jpg", "http://radikal.ru/bt.jpg",
                             "http://radikal.ru/ct.jpg"};
    // Stop/Abort clicked while the second file's body is on its way.
    bench.fakeEngine.onDrive = [&] {
        if (bench.fakeEngine.started.size() == 2 && bench.view.values.size() >= 3) {
            bench.status->stopClick();
        }
    };
    const JobResult result = bench.run();
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.finishedCount, 1);
    EXPECT_EQ(bench.fakeEngine.started,
              gets({"http://radikal.ru/a.jpg", "http://radikal.ru/b.jpg"}));
    EXPECT_EQ(bench.view.log,
              "Starting download process...\r\nDownloading file a.jpg...OK\r\n"
              "Downloading file b.jpg...");
    // Nothing of the stopped file stays.
    EXPECT_EQ(testing::namesIn(bench.saveFolder), std::vector<std::string>{"a.jpg"});
    EXPECT_FALSE(std::filesystem::exists(bench.temp.path() / "failed.txt"));
    EXPECT_EQ(bench.program.runState, RunState::Running);
    EXPECT_EQ(bench.messageBox.shown,
              std::vector<std::string>{"Finish|Task finished !\r\n 1 file(s) downloaded."});
    EXPECT_FALSE(bench.program.jobRunning);
}

TEST(JobWalk, UnreadableDocumentGivesAnEmptyList) {
    struct ThrowingDocument : BrowserDocument {
        std::vector<std::string> imageSources() override { throw std::runtime_error("gone"); }
        std::vector<std::string> linkTargets() override { return {}; }
        std::vector<ImageInLink> imagesWithLinks() override { throw std::runtime_error("gone"); }
    } document;
    JobBench bench;
    const JobResult result =
        runDownloadJob(bench.program, *bench.services, bench.memory, document, "x");
    EXPECT_TRUE(result.started);
    EXPECT_EQ(bench.messageBox.shown,
              std::vector<std::string>{"Finish|Task finished !\r\nNo file downloaded."});
}

TEST(JobWalk, ANameThatCannotBeFormedNeverReusesThePreviousOne) {
    JobBench bench;
    bench.fakeEngine.answer("http://radikal.ru/a.jpg", {FakeReply::file("first")});
    const std::string longUrl = "http://radikal.ru/" + std::string(40000, 'b') + ".jpg";
    bench.fakeEngine.answer(longUrl, {FakeReply::file("second")});
    // The second address is too long for the field helpers: its file name cannot be formed.
    bench.document.images = {"http://radikal.ru/at.jpg",
                             "http://radikal.ru/" + std::string(40000, 'b') + "t.jpg"};
    const JobResult result = bench.run();
    EXPECT_EQ(result.finishedCount, 1);
    EXPECT_EQ(readFile(bench.saved("a.jpg")), "first");
    EXPECT_EQ(bench.failedTxt(), longUrl + "\r\n");
}

TEST(FileRules, TakeAddressesBeforeTheTableAndLeaveTheRestToIt) {
    struct Case {
        const char* what;
        std::string image;
        std::string link;
        std::vector<std::string> requests;  // image downloads
        std::vector<std::string> pages;     // pages asked for
        std::string savedAs;
    };
    const Case cases[] = {
        {"a rule replaces the built-in service for what it matches",
         "http://radikal.ru/big/at.jpg",
         "",
         gets({"http://radikal.ru/huge/a.jpg"}),
         {},
         "a.jpg"},
        {"what it does not match stays with the slot",
         "http://radikal.ru/small/at.jpg",
         "",
         gets({"http://radikal.ru/small/a.jpg"}),
         {},
         "a.jpg"},
        {"a page search, its address made absolute and decoded",
         "http://thumbs.view.test/x9.jpg",
         "",
         gets({"http://img.view.test/full/x9.jpg?a=1&b=2"}),
         {"http://view.test/v/x9"},
         "x9-.jpg"},
        {"a page search with a name from the page",
         "http://thumbs.view.test/n1.jpg",
         "",
         gets({"http://view.test/n1.png"}),
         {"http://view.test/v/n1"},
         "n1-Sun &amp; sea.jpg"},
        {"a link rule, its relative address made absolute against the link",
         "http://cdn.test/s/1.jpg",
         "http://links.test/photo/77",
         gets({"http://links.test/download/77.jpg"}),
         {},
         "77.jpg"},
        {"a link rule before the image's own slot",
         "http://radikal.ru/small/at.jpg",
         "http://links.test/photo/78",
         gets({"http://links.test/download/78.jpg"}),
         {},
         "78.jpg"},
    };
    for (const auto& c : cases) {
        JobBench bench;
        useRules(bench);
        bench.fakeEngine.fallback = FakeReply::file("img");
        bench.fakeEngine.answer(
            "http://view.test/v/x9",
            {FakeReply::page(FakePage{viewPage("//img.view.test/full/x9.jpg?a=1&amp;b=2")})});
        bench.fakeEngine.answer(
            "http://view.test/v/n1",
            {FakeReply::page(FakePage{"<meta property=\"og:image\" content=\"../n1.png\" "
                                      "data-name=\"Sun &amp;amp; sea\">"})});
        bench.document.images = {c.image};
        bench.document.imageLinks = {c.link};
        const JobResult result = bench.run();
        EXPECT_EQ(bench.fakeEngine.started, pagesThen(c.pages, c.requests)) << c.what;
        EXPECT_EQ(result.finishedCount, 1) << c.what;
        EXPECT_EQ(readFile(bench.saved(c.savedAs)), "img") << c.what;
        EXPECT_EQ(bench.failedTxt(), "") << c.what;
    }
}

TEST(FileRules, AtOncePagesAreReadAheadWithinTheLimitsAndNamesFollowTheWalk) {
    constexpr int kImages = 12;
    JobBench bench;
    bench.program.choices.downloadsAtOnce = 4;
    bench.fakeEngine.bytesPerStep = 3;
    std::vector<std::string> files;
    for (int k = 1; k <= kImages; ++k) {
        const std::string id = "p" + std::to_string(k);
        const std::string file =
            "http://img" + std::to_string(k % 2) + ".test/full/" + id + "/same.jpg";
        files.push_back(file);
        bench.fakeEngine.answer("http://view.test/v/" + id, {FakeReply::page({viewPage(file)})});
        bench.fakeEngine.answer(file, {FakeReply::file("image number " + std::to_string(k))});
        bench.document.images.push_back("http://thumbs.view.test/" + id + ".jpg");
    }
    // Every rule names its file the same: the names must come out in walk order.
    useRules(bench, R"toml(
[[rule]]
name = "view page"
match = '^http://thumbs\.view\.test/(?P<id>\w+)\.jpg'
page = "http://view.test/v/${id}"
find = '<meta property="og:image" content="([^"]+)"'
file = "same.jpg"
)toml");
    const JobResult result = bench.run();
    EXPECT_EQ(result.finishedCount, kImages);

    const auto& started = bench.fakeEngine.started;
    ASSERT_EQ(started.size(), 2u * kImages);
    const auto at = [&](const std::string& request) {
        return std::find(started.begin(), started.end(), request) - started.begin();
    };
    for (int k = 1; k <= kImages; ++k) {
        const std::string page = "GET http://view.test/v/p" + std::to_string(k);
        EXPECT_LT(at(page), at("GET " + files[k - 1])) << k;
        const std::string name = k == 1 ? "same.jpg" : "same (" + std::to_string(k) + ").jpg";
        EXPECT_EQ(readFile(bench.saved(name)), "image number " + std::to_string(k)) << name;
        EXPECT_EQ(
            bench.view.log.find("Downloading file " + name + "...OK\r\n") == std::string::npos,
            false)
            << name;
    }
    // The files on their way were shown as they went, none after the end.
    ASSERT_FALSE(bench.view.transfers.empty());
    EXPECT_TRUE(bench.view.transfers.back().empty());
    std::size_t mostShown = 0;
    for (const auto& rows : bench.view.transfers) {
        mostShown = std::max(mostShown, rows.size());
        for (const TransferRow& row : rows) {
            EXPECT_EQ(row.name.rfind("same", 0), 0u) << row.name;
            EXPECT_LE(row.total, 15) << row.name;  // "image number NN"
        }
    }
    EXPECT_GE(mostShown, 1u);
    EXPECT_LE(mostShown, 4u);
    // Pages of later images were asked for while earlier files were still to come.
    EXPECT_LT(at("GET http://view.test/v/p4"), at("GET " + files[1]));
    EXPECT_LE(bench.fakeEngine.mostAtOnce, 4u);
    EXPECT_GT(bench.fakeEngine.mostAtOnce, 2u);
    for (const auto& [host, most] : bench.fakeEngine.mostAtOncePerHost) {
        EXPECT_LE(most, 2u) << host;
    }
    // Every file's line whole: the log is the start line and one whole line per file.
    std::size_t lines = 0;
    for (std::size_t from = kLogStart.size(); from < bench.view.log.size(); ++lines) {
        const auto end = bench.view.log.find("\r\n", from);
        ASSERT_NE(end, std::string::npos);
        const std::string line = bench.view.log.substr(from, end - from);
        EXPECT_EQ(line.rfind("Downloading file same", 0), 0u) << line;
        EXPECT_EQ(line.substr(line.size() - 5), "...OK") << line;
        from = end + 2;
    }
    EXPECT_EQ(lines, static_cast<std::size_t>(kImages));
}

TEST(FileRules, WhatARuleCannotUseIsLoggedAndNothingIsLost) {
    using Page = FakePage;
    const std::string thumb = "http://thumbs.view.test/q1.jpg";
    struct Case {
        const char* what;
        Page page;
        std::string log;     // after the start line
        bool failureLogged;  // the thumbnail went to failed.txt
    };
    const Case cases[] = {
        {"a page that is not there", Page{"", 200, false},
         "Service page cannot be read: http://view.test/v/q1 (failure code 7)\r\n", true},
        {"an error page", Page{viewPage("http://img.view.test/q1.jpg"), 404, true},
         "Service page cannot be read: http://view.test/v/q1 (HTTP 404)\r\n", true},
        {"the lowest error status", Page{viewPage("http://img.view.test/q1.jpg"), 400, true},
         "Service page cannot be read: http://view.test/v/q1 (HTTP 400)\r\n", true},
        {"a javascript: address", Page{viewPage("javascript:alert(document.cookie)"), 200, true},
         "Rule \"view page\": not an http(s) address: javascript:alert(document.cookie)\r\n", true},
        {"a file: address", Page{viewPage("file:///etc/passwd"), 200, true},
         "Rule \"view page\": not an http(s) address: file:///etc/passwd\r\n", true},
        {"a terminal's control sequence",
         Page{viewPage("javascript:\x1B[2J\xC2\x9B"
                       "31m"),
              200, true},
         "Rule \"view page\": not an http(s) address: javascript:\\x1B[2J\\xC2\\x9B31m\r\n", true},
        {"a capture too long to be an address",
         Page{viewPage("http://img.view.test/" + std::string(70000, 'a')), 200, true},
         "Rule \"view page\": what `find` captured on http://view.test/v/q1 is longer than "
         "65536 bytes\r\n",
         true},
        // A page without the pattern declines silently, as a page without the marker does.
        {"a page without a hit", Page{"<html>nothing here</html>", 200, true}, "", false},
    };
    for (const auto& c : cases) {
        JobBench bench;
        useRules(bench);
        if (c.page.transferred) {
            bench.fakeEngine.answer("http://view.test/v/q1", {FakeReply::page(c.page)});
        }
        bench.document.images = {thumb};
        const JobResult result = bench.run();
        EXPECT_EQ(bench.fakeEngine.started, gets({"http://view.test/v/q1"})) << c.what;
        EXPECT_EQ(bench.view.log, kLogStart + c.log) << c.what;
        EXPECT_EQ(bench.failedTxt(), c.failureLogged ? thumb + "\r\n" : "") << c.what;
        EXPECT_EQ(result.failuresLogged, c.failureLogged ? 1 : 0) << c.what;
    }
}

TEST(FileRules, FileNamesGoThroughTheSafeNameCheck) {
    const struct {
        const char* file;
        std::string savedAs;
        std::string log;
    } cases[] = {
        {"$1.jpg", "pic.jpg", ""},
        {"../$1.jpg", "pic.jpg",
         "Rule \"named\": the file name \"../pic.jpg\" is not safe as it stands; saved as "
         "\"pic.jpg\"\r\n"},
        {"", "pic.png",
         "Rule \"named\": the file name \"\" cannot be used; saved as \"pic.png\"\r\n"},
        {"..", "pic.png",
         "Rule \"named\": the file name \"..\" cannot be used; saved as \"pic.png\"\r\n"},
        {"a/", "pic.png",
         "Rule \"named\": the file name \"a/\" cannot be used; saved as \"pic.png\"\r\n"},
    };
    for (const auto& c : cases) {
        JobBench bench;
        useRules(bench, ("[[rule]]\nname = 'named'\nmatch = 'named\\.test/(\\w+)'\n"
                         "full = 'http://named.test/full/$1.png?size=big'\nfile = '" +
                         std::string(c.file) + "'\n")
                            .c_str());
        bench.fakeEngine.fallback = FakeReply::file("img");
        bench.document.images = {"http://named.test/pic"};
        bench.run();
        EXPECT_EQ(readFile(bench.saved(c.savedAs)), "img") << c.file;
        EXPECT_EQ(bench.view.log, kLogStart + c.log + "Downloading file " + c.savedAs + "...OK\r\n")
            << c.file;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(bench.saveFolder),
                                std::filesystem::directory_iterator()),
                  1)
            << c.file;
    }
}

TEST(RetryJob, EveryAddressNotSavedWholeStaysAndNoThumbnailIsSavedAsThePicture) {
    const std::string bamThumb = "http://thumbs.imagebam.com/1/ab/abc123.jpg";
    const std::string bamPage = "http://www.imagebam.com/image/abc123";
    const std::string venueFull = "http://img5.imagevenue.com/aAbB/loc77/123_full.jpg";
    const std::string viewThumb = "http://thumbs.view.test/gone.jpg";
    const std::string link = "http://links.test/photo/9";
    struct Case {
        const char* what;
        std::string address;
        std::vector<std::pair<std::string, FakeReply>> answers;
        std::vector<std::string> requests;
        std::vector<std::string> list;  // the new failed.txt's addresses
        std::string log;                // after the start line, up to the final message
    };
    const Case cases[] = {
        {"a thumbnail whose service page cannot be read",
         bamThumb,
         {{bamPage, FakeReply::status(500, "busy")}},
         gets({bamPage}),
         {bamThumb},
         "Service page cannot be read: " + bamPage + " (HTTP 500)\r\n"},
        {"a thumbnail whose image was removed",
         bamThumb,
         {{bamPage, FakeReply::page({"<html>this image was removed</html>"})}},
         gets({bamPage}),
         {bamThumb},
         "No full-size image for " + bamThumb +
             " (the ImageBam rule found no full-size image)\r\n"},
        {"a full-size address is downloaded as it stands",
         venueFull,
         {{venueFull, FakeReply::file("picture")}},
         gets({venueFull}),
         {},
         "Downloading file 123_full.jpg...OK\r\n"},
        {"a page search that finds nothing",
         viewThumb,
         {{"http://view.test/v/gone", FakeReply::page({"<html>no picture</html>"})}},
         gets({"http://view.test/v/gone"}),
         {viewThumb},
         "No full-size image for " + viewThumb +
             " (Rule \"view page\": `find` matched nothing on http://view.test/v/gone)\r\n"},
        {"a link goes to its link rule",
         link,
         {{"http://links.test/download/9.jpg", FakeReply::file("picture")}},
         gets({"http://links.test/download/9.jpg"}),
         {},
         "Downloading file 9.jpg...OK\r\n"},
    };
    for (const auto& c : cases) {
        JobBench bench;
        useRules(bench);
        for (const auto& [url, reply] : c.answers) bench.fakeEngine.answer(url, {reply});
        const JobResult result = bench.retry({c.address});
        EXPECT_EQ(bench.fakeEngine.started, c.requests) << c.what;
        EXPECT_EQ(result.retryList, c.list) << c.what;
        EXPECT_EQ(bench.view.log, kLogStart + c.log) << c.what;
    }
}

TEST(RetryJob, AtOnceTheStatusWindowShowsOnlyTheFilesOnTheWire) {
    JobBench bench;
    bench.program.choices.downloadsAtOnce = 4;
    bench.fakeEngine.bytesPerStep = 3;
    std::vector<std::string> addresses;
    for (int k = 1; k <= 6; ++k) {
        addresses.push_back("http://one.test/" + std::to_string(k) + ".jpg");
        bench.fakeEngine.answer(addresses.back(),
                                {FakeReply::file("picture " + std::to_string(k))});
    }
    const JobResult result = bench.retry(addresses);
    EXPECT_EQ(result.finishedCount, 6);
    // One host takes two at a time; the files waiting for room are not on their way yet.
    std::size_t mostShown = 0;
    for (const auto& rows : bench.view.transfers) mostShown = std::max(mostShown, rows.size());
    EXPECT_EQ(mostShown, 2u);
}

TEST(RetryJob, ARetryNeverReplacesAFileThatStandsInTheSaveFolder) {
    for (const int atOnce : {1, 4}) {
        JobBench bench;
        bench.program.choices.downloadsAtOnce = atOnce;
        testing::writeFile(bench.saved("image.jpg"), "the first picture");
        bench.fakeEngine.answer("http://h2.test/y/image.jpg", {FakeReply::file("the second")});
        const JobResult result = bench.retry({"http://h2.test/y/image.jpg"});
        EXPECT_EQ(result.finishedCount, 1) << atOnce;
        EXPECT_EQ(readFile(bench.saved("image.jpg")), "the first picture") << atOnce;
        EXPECT_EQ(readFile(bench.saved("image (2).jpg")), "the second") << atOnce;
    }
}

TEST(RetryJob, AStoppedRetryKeepsWhatItDidNotSettleInTheOldOrder) {
    JobBench bench;
    bench.program.choices.downloadsAtOnce = 3;
    FakeReply slow = FakeReply::file("slow picture");
    slow.held = true;
    bench.fakeEngine.answer("http://a.test/a.jpg", {slow});
    bench.fakeEngine.answer("http://b.test/b.jpg", {FakeReply::status(404)});
    bench.fakeEngine.answer("http://c.test/c.jpg", {FakeReply::file("c")});
    // Stop/Abort once b has failed three times and c is saved; a is still on its way.
    bench.fakeEngine.onDrive = [&] {
        if (bench.fakeEngine.started.size() >= 5 && std::filesystem::exists(bench.saved("c.jpg"))) {
            bench.status->stopClick();
        }
    };
    const JobResult result =
        bench.retry({"http://a.test/a.jpg", "http://b.test/b.jpg", "http://c.test/c.jpg"});
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.retryList,
              (std::vector<std::string>{"http://a.test/a.jpg", "http://b.test/b.jpg"}));
    EXPECT_EQ(testing::namesIn(bench.saveFolder), std::vector<std::string>{"c.jpg"});
}

TEST(LinkedImages, OnlyForImagesNoRuleTakesAndOnlyWhenChosen) {
    struct Case {
        const char* what;
        bool chosen;
        std::string image;
        std::string link;
        std::vector<std::string> requests;
    };
    const Case cases[] = {
        {"an image of no service in a link to a picture", true, "http://forum.test/t.gif",
         "http://pics.test/a/Big.JPG?w=1#x", gets({"http://pics.test/a/Big.JPG?w=1#x"})},
        {"not chosen", false, "http://forum.test/t.gif", "http://pics.test/big.jpg", {}},
        {"a link to a page",
         true,
         "http://forum.test/t.gif",
         "http://pics.test/view.php?i=a.jpg",
         {}},
        {"a link that is no web address",
         true,
         "http://forum.test/t.gif",
         "javascript:open('a.jpg')",
         {}},
        {"a slot that declines keeps its image from the link",
         true,
         "http://img1.imageshack.us/at.jpg",
         "http://pics.test/big.jpg",
         {}},
        {"a slot that takes it", true, "http://radikal.ru/at.jpg", "http://pics.test/big.jpg",
         gets({"http://radikal.ru/a.jpg"})},
        {"an image in no link", true, "http://forum.test/t.gif", "", {}},
    };
    for (const auto& c : cases) {
        JobBench bench;
        bench.options.linkedImages = c.chosen;
        bench.fakeEngine.fallback = FakeReply::file("img");
        bench.document.images = {c.image};
        bench.document.imageLinks = {c.link};
        bench.run();
        EXPECT_EQ(bench.fakeEngine.started, c.requests) << c.what;
    }
    JobBench bench;
    bench.options.linkedImages = true;
    bench.fakeEngine.fallback = FakeReply::file("img");
    bench.document.images = {"http://forum.test/t.gif"};
    bench.document.imageLinks = {"http://pics.test/a/Big.JPG?w=1"};
    bench.run();
    EXPECT_EQ(readFile(bench.saved("Big.JPG")), "img");
}

TEST(LinkedImages, WithoutRulesOrLinkedImagesTheLinksAreNeverRead) {
    JobBench bench;
    bench.fakeEngine.fallback = FakeReply::file("img");
    bench.document.images = {"http://radikal.ru/at.jpg"};
    bench.document.imageLinks = {"http://links.test/photo/1"};
    bench.run();
    EXPECT_EQ(bench.document.imagesWithLinksReads, 0);
    bench.options.linkedImages = true;
    bench.run();
    EXPECT_EQ(bench.document.imagesWithLinksReads, 1);
}

TEST(DryRun, SaysWhatEachImageWouldBecomeAndDownloadsNothing) {
    JobBench bench;
    useRules(bench);
    bench.options.linkedImages = true;
    bench.fakeEngine.answer("http://view.test/v/ok",
                            {FakeReply::page(FakePage{viewPage("/full/ok.jpg")})});
    bench.fakeEngine.answer("http://view.test/v/js",
                            {FakeReply::page(FakePage{viewPage("javascript:x()")})});
    bench.fakeEngine.answer("http://www.imagehaven.net/img.php?id=none.jpg",
                            {FakeReply::page(FakePage{"<html></html>"})});
    bench.document.images = {
        "http://radikal.ru/big/at.jpg",
        "http://thumbs.view.test/ok.jpg",
        "http://thumbs.view.test/js.jpg",
        "http://thumbs.view.test/gone.jpg",
        "http://img1.imageshack.us/x.th.jpg",
        "http://img1.imageshack.us/x.jpg",
        "http://www.imagehaven.net/img/thumbs/none.jpg",
        "http://x.test/#############",
        "http://forum.test/smile.gif",
        "",
        "http://forum.test/linked.gif",
        "http://img-fotki.yandex.ru/get/1/a-S",
        "",  // an image without an address, inside a link to a picture
    };
    bench.document.imageLinks.resize(bench.document.images.size());
    bench.document.imageLinks[10] = "http://pics.test/linked.png";
    bench.document.imageLinks[12] = "http://pics.test/a/14.jpg";
    EXPECT_EQ(
        bench.dryRun(),
        (std::vector<std::string>{
            "http://radikal.ru/big/at.jpg -> http://radikal.ru/huge/a.jpg a.jpg",
            "http://thumbs.view.test/ok.jpg -> http://view.test/full/ok.jpg ok-.jpg",
            "http://thumbs.view.test/js.jpg -> (declined: Rule \"view page\": not an http(s) "
            "address: javascript:x())",
            "http://thumbs.view.test/gone.jpg -> (declined: Service page cannot be read: "
            "http://view.test/v/gone (failure code 7))",
            "http://img1.imageshack.us/x.th.jpg -> http://img1.imageshack.us/x.jpg x.jpg",
            "http://img1.imageshack.us/x.jpg -> (declined: the ImageShack rule found no full-size "
            "image)",
            "http://www.imagehaven.net/img/thumbs/none.jpg -> (declined: the ImageHaven rule found "
            "no full-size image)",
            "http://x.test/############# -> (declined: the empty slot takes this address and "
            "does nothing)",
            "http://forum.test/smile.gif -> (declined: no rule takes this address)",
            "http://forum.test/linked.gif -> http://pics.test/linked.png linked.png",
            "http://img-fotki.yandex.ru/get/1/a-S -> http://img-fotki.yandex.ru/get/1/a-orig "
            "a.jpg",
            "http://pics.test/a/14.jpg -> http://pics.test/a/14.jpg 14.jpg",
        }));
    // Service pages are read; no image is asked for.
    EXPECT_EQ(bench.fakeEngine.started,
              gets({"http://view.test/v/ok", "http://view.test/v/js", "http://view.test/v/gone",
                    "http://www.imagehaven.net/img.php?id=none.jpg"}));
    EXPECT_EQ(bench.view.opens, 0);
    EXPECT_TRUE(bench.messageBox.shown.empty());
    EXPECT_TRUE(bench.shell.folders.empty());
    EXPECT_EQ(bench.workFolderFiles(), std::vector<std::string>{"images"});
    EXPECT_TRUE(std::filesystem::is_empty(bench.saveFolder));
    EXPECT_FALSE(bench.program.jobRunning);
}

TEST(DryRun, TargetsThatWouldFailSayWhy) {
    JobBench bench;
    // ShareNXS without "caba/" hands over an address that is no web address; Radikal one
    // whose name holds a control character.
    bench.document.images = {"sharenxs.com/thumbnails/x/ab-nxs.jpg",
                             "http://radikal.ru/x/a\tt.jpg"};
    EXPECT_EQ(bench.dryRun(),
              (std::vector<std::string>{
                  "sharenxs.com/thumbnails/x/ab-nxs.jpg -> (declined: not an http(s) address: "
                  "sharenxs.com/thumbnails/x/nxs.jpg)",
                  "http://radikal.ru/x/a\tt.jpg -> (declined: no usable file name for "
                  "http://radikal.ru/x/a\t.jpg (\"a\t.jpg\"))"}));
}

}  // namespace
}  // namespace velnoria
