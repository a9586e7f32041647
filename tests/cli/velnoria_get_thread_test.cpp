// velnoria-get on whole threads: next pages, files already saved, failures retried and downloads
// at once, each against the real program on the loopback server. Every run has its bound.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/sha256.h"
#include "tests/support/child_process.h"
#include "tests/support/scoped_tmpfs.h"
#include "tests/support/sqlite_rows.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_http_server.h"

namespace velnoria {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ChildResult;
using testing::namesIn;
using testing::readFile;
using testing::Reply;
using testing::Request;
using testing::runChild;
using testing::TempFolder;
using testing::writeFile;

const std::string kProgram = VELNORIA_GET_PATH;
const std::string kForum = "http://forum.example/t/7";

std::string pageAddress(int page) {
    return kForum + "?page=" + std::to_string(page);
}

// The full-size address of image i of page p, and the thumbnail that leads to it.
std::string imageAddress(int page, int i) {
    return "http://s" + std::to_string(page) + ".radikal.ru/i/p" + std::to_string(page) + "i" +
           std::to_string(i) + ".jpg";
}
std::string thumbAddress(int page, int i) {
    std::string thumb = imageAddress(page, i);
    return thumb.replace(thumb.size() - 4, 4, "t.jpg");
}

// A page of `images` thumbnails whose next page is `next` ("" for none), named the way `how`
// says: a <link> in the head or an <a> in the body.
std::string threadPage(int page, int images, const std::string& next, bool asLink = true) {
    std::string html = "<!DOCTYPE html><html><head><title>Page</title>";
    if (!next.empty() && asLink) html += "<link rel=\"next\" href=\"" + next + "\">";
    html += "</head><body>\n";
    for (int i = 1; i <= images; ++i) html += "<img src=\"" + thumbAddress(page, i) + "\">\n";
    if (!next.empty() && !asLink)
        html += "<a class=nav rel=\"next\" href=\"" + next + "\">Next</a>";
    return html + "</body></html>\n";
}

// A text's lines in order of text.
std::vector<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    std::sort(lines.begin(), lines.end());
    return lines;
}

class VelnoriaGetThread : public ::testing::Test {
  protected:
    void SetUp() override {
        // Every radikal image answers with bytes of its own.
        server.setFallback([](const Request& request) {
            if (request.url.find(".radikal.ru/") == std::string::npos) {
                return Reply::withStatus(404, "<html>Not Found</html>");
            }
            return Reply::ok("bytes of " + request.url, "image/jpeg");
        });
        writeFile(folder / "settings.dat", "out\r\n 10 \r\n 102400 \r\n");
        fs::create_directory(folder / "out");
    }

    ChildResult run(std::vector<std::string> args) {
        return runChild(kProgram, args, folder.path(), 60s);
    }

    std::vector<std::string> saved() const { return namesIn(folder / "out"); }

    std::size_t imageRequests() const {
        const auto all = server.requests();
        return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), [](const Request& r) {
            return r.url.find(".radikal.ru/") != std::string::npos;
        }));
    }

    testing::TestHttpServer server;
    testing::ScopedProxy proxy{server};
    TempFolder folder;
};

TEST_F(VelnoriaGetThread, AllPagesFollowsTheThreadToItsLastPage) {
    // Page 1 names page 2 in its head, page 2 names page 3 with an anchor, page 3 names none.
    server.route(pageAddress(1), Reply::ok(threadPage(1, 2, "?page=2"), "text/html"));
    server.route(pageAddress(2), Reply::ok(threadPage(2, 1, pageAddress(3), false), "text/html"));
    server.route(pageAddress(3), Reply::ok(threadPage(3, 2, ""), "text/html"));

    // Without the option the job is the one-page job.
    ChildResult plain = run({pageAddress(1)});
    EXPECT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(plain.out,
              "Starting download process...\n"
              "Downloading file p1i1.jpg...OK\nDownloading file p1i2.jpg...OK\n"
              "Task finished !\n 2 file(s) downloaded.\n");
    EXPECT_TRUE(server.requestsFor(pageAddress(2)).empty());

    const ChildResult all = run({"--all-pages", pageAddress(1)});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(all.out,
              "Starting download process...\n"
              "Downloading file p1i1.jpg...OK\nDownloading file p1i2.jpg...OK\n"
              "Reading page 2: " +
                  pageAddress(2) +
                  "\n"
                  "Downloading file p2i1.jpg...OK\n"
                  "Reading page 3: " +
                  pageAddress(3) +
                  "\n"
                  "Downloading file p3i1.jpg...OK\nDownloading file p3i2.jpg...OK\n"
                  "Task finished !\n 5 file(s) downloaded.\n");
    EXPECT_EQ(saved(), (std::vector<std::string>{"p1i1.jpg", "p1i2.jpg", "p2i1.jpg", "p3i1.jpg",
                                                 "p3i2.jpg"}));
    EXPECT_EQ(readFile(folder / "out" / "p2i1.jpg"), "bytes of " + imageAddress(2, 1));
    EXPECT_EQ(server.requestsFor(pageAddress(3)).size(), 1u);
}

TEST_F(VelnoriaGetThread, NextPagesThatMustNotBeReadEndTheFollowingWithALine) {
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::map<int, std::string> nextOf;  // page -> its next page
        std::string lastLine;               // before the final message
        int files;
        std::string err = {};  // a next page that cannot be read leaves the thread undone
    } cases[] = {
        {"a loop back to the first page",
         {"--all-pages"},
         {{1, pageAddress(2)}, {2, pageAddress(1) + "#top"}},
         "Next page not read (read before in this job): " + pageAddress(1) + "#top",
         2},
        {"another host",
         {"--all-pages"},
         {{1, "http://elsewhere.example/t/7?page=2"}},
         "Next page not read (on another host): http://elsewhere.example/t/7?page=2",
         1},
        {"a script",
         {"--all-pages"},
         {{1, "javascript:nextPage()"}},
         "Next page not read (not a web address): javascript:nextPage()",
         1},
        {"a local file",
         {"--all-pages"},
         {{1, "file:///etc/passwd"}},
         "Next page not read (not a web address): file:///etc/passwd",
         1},
        {"the page limit",
         {"--max-pages", "2"},
         {{1, pageAddress(2)}, {2, pageAddress(3)}},
         "Next page not read (the limit of 2 pages is reached): " + pageAddress(3),
         2},
        {"a page that cannot be read",
         {"--all-pages"},
         {{1, kForum + "?page=404"}},
         "Page cannot be read: " + kForum + "?page=404 (the server answered with HTTP status 404)",
         1,
         "velnoria-get: a next page of the thread cannot be read: the server answered with HTTP "
         "status 404\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        server.clearRequests();
        for (int page = 1; page <= 3; ++page) {
            const auto next = c.nextOf.find(page);
            server.route(pageAddress(page),
                         Reply::ok(threadPage(page, 1, next == c.nextOf.end() ? "" : next->second),
                                   "text/html"));
        }
        std::vector<std::string> args = c.args;
        args.push_back(pageAddress(1));
        const ChildResult result = run(args);
        EXPECT_EQ(result.exitCode, c.err.empty() ? 0 : 1) << result.err;
        EXPECT_EQ(result.err, c.err);
        const std::string ending = c.lastLine + "\nTask finished !\n " + std::to_string(c.files) +
                                   " file(s) downloaded.\n";
        EXPECT_TRUE(result.out.ends_with(ending)) << result.out;
        // Each page read once at most; nothing of another host or scheme was asked for.
        EXPECT_LE(server.requestsFor(pageAddress(1)).size(), 1u);
        EXPECT_TRUE(server.requestsFor("http://elsewhere.example/t/7?page=2").empty());
        EXPECT_EQ(server.requestsFor(pageAddress(3)).size(), 0u);
    }
}

TEST_F(VelnoriaGetThread, AThreadOfTenThousandPagesStopsAtTheLimit) {
    // Every page names the one after it, up to page 10,000.
    server.setFallback([](const Request& request) {
        const std::size_t at = request.url.find("?page=");
        const int page = at == std::string::npos ? 0 : std::stoi(request.url.substr(at + 6));
        if (page < 1 || page > 10000) return Reply::withStatus(404);
        return Reply::ok(threadPage(page, 0, page < 10000 ? pageAddress(page + 1) : ""),
                         "text/html");
    });
    const auto start = std::chrono::steady_clock::now();
    const ChildResult result = run({"--all-pages", pageAddress(1)});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_NE(result.out.find("Reading page 50: " + pageAddress(50) + "\n"), std::string::npos);
    EXPECT_TRUE(result.out.ends_with("Next page not read (the limit of 50 pages is reached): " +
                                     pageAddress(51) + "\nTask finished !\nNo file downloaded.\n"))
        << result.out;
    EXPECT_TRUE(server.requestsFor(pageAddress(51)).empty());
}

TEST_F(VelnoriaGetThread, RetryFailedTriesTheListAgainAndKeepsWhatFailedAgain) {
    const std::string gone = "http://s9.radikal.ru/i/gone.jpg";
    server.route(gone, Reply::withStatus(404, "<html>gone</html>"));
    const std::string binary("\x00\x01\xff\xfe binary \x00", 13);
    // A full-size address (its rule declines it), a thumbnail (its rule resolves it), one that
    // fails again, twice; blank lines, a line of control characters and one of binary bytes;
    // LF and CR LF line ends.
    writeFile(folder / "failed.txt", imageAddress(1, 1) + "\r\n\r\n   \n" + thumbAddress(2, 1) +
                                         "\n" + gone + "\r\nhttp://x.example/a\x01b\r\n" + binary +
                                         "\r\n" + gone + "\r\nnotes: retry later");

    const ChildResult first = run({"--retry-failed"});
    EXPECT_EQ(first.exitCode, 1) << first.err;
    EXPECT_EQ(first.out,
              "Starting download process...\n"
              "Downloading file p1i1.jpg...OK\n"
              "Downloading file p2i1.jpg...OK\n"
              "Downloading file gone.jpg...FAILED (HTTP 404)\nRESTART DOWNLOAD.\n"
              "Downloading file gone.jpg...FAILED (HTTP 404)\nRESTART DOWNLOAD.\n"
              "Downloading file gone.jpg...FAILED (HTTP 404)\nFAILURE LOGGED.\n"
              "Task finished !\n 2 file(s) downloaded.\n");
    EXPECT_EQ(first.err,
              "velnoria-get: 3 line(s) of failed.txt are no http(s) address; they stay in the "
              "file as they are\n");
    // The address that failed again leaves nothing in the save folder, not its error page.
    EXPECT_EQ(saved(), (std::vector<std::string>{"p1i1.jpg", "p2i1.jpg"}));
    EXPECT_EQ(readFile(folder / "out" / "p2i1.jpg"), "bytes of " + imageAddress(2, 1));
    const std::string kept = "http://x.example/a\x01b\r\n" + binary + "\r\nnotes: retry later\r\n";
    EXPECT_EQ(readFile(folder / "failed.txt"), kept + gone + "\r\n");
    // Only the new list is left in the folder.
    EXPECT_EQ(std::count_if(fs::directory_iterator(folder.path()), fs::directory_iterator(),
                            [](const fs::directory_entry& e) {
                                return e.path().filename().string().starts_with("failed");
                            }),
              1);

    // The address works again: the list keeps only the lines that are no address.
    server.route(gone, Reply::ok("back", "image/jpeg"));
    const ChildResult second = run({"--retry-failed", "--save-folder", "again"});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(readFile(folder / "again" / "gone.jpg"), "back");
    EXPECT_EQ(readFile(folder / "failed.txt"), kept);
}

TEST_F(VelnoriaGetThread, RetryFailedOnListsThatAreNone) {
    // No list: nothing to do, and no list is made.
    ChildResult none = run({"--retry-failed"});
    EXPECT_EQ(none.exitCode, 0) << none.err;
    EXPECT_EQ(none.out, "Starting download process...\nTask finished !\nNo file downloaded.\n");
    EXPECT_FALSE(fs::exists(folder / "failed.txt"));

    // A list larger than any list of addresses is refused and left as it is.
    { std::ofstream big(folder / "failed.txt", std::ios::binary); }
    fs::resize_file(folder / "failed.txt", (64u << 20) + 1);
    const ChildResult huge = run({"--retry-failed"});
    EXPECT_EQ(huge.exitCode, 2);
    EXPECT_EQ(huge.err, "velnoria-get: failed.txt is larger than 64 MiB: no list of addresses\n");
    EXPECT_EQ(fs::file_size(folder / "failed.txt"), (64u << 20) + 1);

    const struct {
        std::vector<std::string> args;
        std::string err;
    } refused[] = {
        {{"--retry-failed", kForum}, "--retry-failed takes no PAGE: " + kForum},
        {{"--retry-failed", "--all-pages"}, "--retry-failed reads no pages: no --all-pages"},
    };
    for (const auto& c : refused) {
        const ChildResult result = run(c.args);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.err, "velnoria-get: " + c.err + " (see velnoria-get --help)\n");
    }
}

TEST_F(VelnoriaGetThread, ACtrlCInARetryOfAHundredThousandLinesLosesNoLine) {
    std::string list;
    for (int i = 0; i < 100000; ++i)
        list += "http://s1.radikal.ru/many/" + std::to_string(i) + ".jpg\r\n";
    writeFile(folder / "failed.txt", list);
    testing::ChildProcess child(kProgram, {"--retry-failed"}, folder.path());
    ASSERT_TRUE(server.waitForRequests(200, 30s));
    child.signal(SIGINT);
    const ChildResult result = child.finish(30s);
    ASSERT_EQ(result.exitCode, 130) << result.err;

    // Every address is either saved (its line ended "OK") or still listed, in order, each once;
    // the one a stop cut short stays listed.
    std::size_t done = 0;
    for (std::size_t at = 0; (at = result.out.find("...OK\n", at)) != std::string::npos; ++at) {
        ++done;
    }
    EXPECT_GE(done, 199u);
    const std::string after = readFile(folder / "failed.txt");
    const std::size_t firstLeft =
        list.find("http://s1.radikal.ru/many/" + std::to_string(done) + ".jpg\r\n");
    ASSERT_NE(firstLeft, std::string::npos);
    EXPECT_TRUE(after == list.substr(firstLeft))
        << "failed.txt starts with " << after.substr(0, 80) << " after " << done << " done";
}

// A thread of 26 images over three hosts and more, served with a delay so that downloads overlap,
// and with the answers a job meets: a missing file, no Content-Length, a chunked body, a body cut
// short once, an error page with a 500 marker.
class VelnoriaGetParallel : public VelnoriaGetThread {
  protected:
    void SetUp() override {
        VelnoriaGetThread::SetUp();
        std::string html = "<html><body>\n";
        for (int host = 1; host <= 3; ++host) {
            for (int i = 1; i <= 8; ++i) html += "<img src=\"" + thumbAddress(host, i) + "\">\n";
        }
        // Two files of one name from two hosts, of other bytes: the later one is numbered.
        html +=
            "<img src=\"http://s1.radikal.ru/j/dupt.jpg\"><img "
            "src=\"http://s22.radikal.ru/j/dupt.jpg\">";
        server.route(kForum, Reply::ok(html + "</body></html>", "text/html"));
        server.setFallback([this](const Request& request) { return answer(request); });
    }

    Reply answer(const Request& request) {
        const std::string& url = request.url;
        Reply reply =
            Reply::generated(20000 + url.size() * 100, static_cast<std::uint32_t>(url.size()));
        if (url == imageAddress(1, 2)) reply = Reply::withStatus(404, "<html>gone</html>");
        if (url == imageAddress(2, 3)) reply.autoContentLength = false;
        if (url == imageAddress(2, 4)) reply.chunked = true;
        if (url == imageAddress(3, 5)) reply = Reply::withStatus(500, "broken");
        if (url == imageAddress(3, 6) && cutOnce_.exchange(false)) reply.closeAfterBodyBytes = 5000;
        {
            std::lock_guard lock(mutex_);
            const std::string host = url.substr(0, url.find(".radikal.ru"));
            const int now = ++inFlight_[host];
            mostOnHost_ = std::max(mostOnHost_, now);
            mostAtOnce_ = std::max(mostAtOnce_, ++total_);
        }
        // Held while counted, so that the downloads overlap in the count.
        std::this_thread::sleep_for(40ms);
        {
            std::lock_guard lock(mutex_);
            --inFlight_[url.substr(0, url.find(".radikal.ru"))];
            --total_;
        }
        return reply;
    }

    // Files and their bytes, and failed.txt's lines in order of text.
    std::map<std::string, std::string> savedFiles(const fs::path& dir) const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(dir)) {
            files[entry.path().filename().string()] = readFile(entry.path());
        }
        return files;
    }
    std::mutex mutex_;
    std::map<std::string, int> inFlight_;
    int total_ = 0;
    int mostOnHost_ = 0;
    int mostAtOnce_ = 0;
    std::atomic<bool> cutOnce_{true};
};

TEST_F(VelnoriaGetParallel, DownloadsAtOnceGiveWhatOneAtATimeGives) {
    const ChildResult one = run({"--save-folder", "one", kForum});
    const std::string failedOne = readFile(folder / "failed.txt");
    fs::remove(folder / "failed.txt");
    EXPECT_EQ(mostAtOnce_, 1);

    cutOnce_ = true;
    mostOnHost_ = mostAtOnce_ = 0;
    const auto start = std::chrono::steady_clock::now();
    const ChildResult many = run({"--parallel", "8", "--save-folder", "many", kForum});
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(one.exitCode, 1) << one.err;
    EXPECT_EQ(many.exitCode, one.exitCode) << many.err;
    // (Compared whole; the files are too large to print.)
    EXPECT_TRUE(savedFiles(folder / "many") == savedFiles(folder / "one"));
    // The 404 and the 500 leave nothing under their names, not even a temporary file.
    EXPECT_EQ(savedFiles(folder / "many").size(), 24u);
    for (const char* const mode : {"one", "many"}) {
        EXPECT_FALSE(fs::exists(folder / mode / "p1i2.jpg")) << mode;
        EXPECT_FALSE(fs::exists(folder / mode / "p3i5.jpg")) << mode;
    }
    EXPECT_EQ(readFile(folder / "many" / "dup.jpg").size(),
              20000 + std::string("http://s1.radikal.ru/j/dup.jpg").size() * 100);
    EXPECT_EQ(readFile(folder / "many" / "dup (2).jpg").size(),
              20000 + std::string("http://s22.radikal.ru/j/dup.jpg").size() * 100);
    EXPECT_EQ(sortedLines(readFile(folder / "failed.txt")), sortedLines(failedOne));
    EXPECT_EQ(sortedLines(failedOne),
              (std::vector<std::string>{imageAddress(1, 2) + "\r", imageAddress(3, 5) + "\r"}));
    // The same lines, each file's lines together; only the order of the files may differ.
    EXPECT_EQ(sortedLines(many.out), sortedLines(one.out));
    EXPECT_NE(many.out.find("Downloading file p2i3.jpg...\nWarning! Unknown file size, trying "
                            "alternative method for download...OK\n"),
              std::string::npos)
        << many.out;
    EXPECT_NE(many.out.find("Downloading file p1i2.jpg...FAILED (HTTP 404)\nRESTART DOWNLOAD.\n"
                            "Downloading file p1i2.jpg...FAILED (HTTP 404)\nRESTART DOWNLOAD.\n"
                            "Downloading file p1i2.jpg...FAILED (HTTP 404)\nFAILURE LOGGED.\n"),
              std::string::npos)
        << many.out;
    // Several at once, never more than two on one host name, and faster for it.
    EXPECT_GE(mostAtOnce_, 4);
    EXPECT_LE(mostAtOnce_, 7);  // three hosts, two each, and one more of the twin names
    EXPECT_EQ(mostOnHost_, 2);
    EXPECT_LT(took, 30s);
}

TEST_F(VelnoriaGetParallel, CtrlCCancelsEveryTransferAtOnce) {
    server.setFallback([](const Request&) {
        Reply slow = Reply::generated(2000000);
        slow.drip = testing::Drip{2000, 10ms};
        return slow;
    });
    testing::ChildProcess child(kProgram, {"--parallel", "6", kForum}, folder.path());
    ASSERT_TRUE(server.waitForRequests(7, 20s));  // the page and six images
    std::this_thread::sleep_for(300ms);
    const auto start = std::chrono::steady_clock::now();
    child.signal(SIGINT);
    const ChildResult result = child.finish(20s);
    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(result.out, "Starting download process...\nTask finished !\nNo file downloaded.\n");
    EXPECT_FALSE(fs::exists(folder / "failed.txt"));
    // No image was started after the stop.
    EXPECT_LE(server.requestCount(), 7u);
}

TEST_F(VelnoriaGetThread, SkipExistingFetchesNoBodyTheSecondTime) {
    server.route(pageAddress(1), Reply::ok(threadPage(1, 3, pageAddress(2)), "text/html"));
    server.route(pageAddress(2), Reply::ok(threadPage(2, 2, ""), "text/html"));
    for (const std::string parallel : {"1", "4"}) {
        SCOPED_TRACE("--parallel " + parallel);
        fs::remove_all(folder / "out");
        fs::create_directory(folder / "out");
        const std::vector<std::string> args = {"--all-pages", "--skip-existing", "--parallel",
                                               parallel, pageAddress(1)};
        const ChildResult first = run(args);
        EXPECT_EQ(first.exitCode, 0) << first.err;
        EXPECT_EQ(saved().size(), 5u);
        // One file changed meanwhile (another length), one removed.
        writeFile(folder / "out" / "p1i2.jpg", "shorter");
        fs::remove(folder / "out" / "p2i2.jpg");

        server.clearRequests();
        const ChildResult second = run(args);
        EXPECT_EQ(second.exitCode, 0) << second.err;
        EXPECT_EQ(
            sortedLines(second.out),
            sortedLines("Starting download process...\n"
                        "Downloading file p1i1.jpg...ALREADY SAVED\n"
                        "Downloading file p1i2.jpg...OK\n"
                        "Downloading file p1i3.jpg...ALREADY SAVED\n"
                        "Reading page 2: " +
                        pageAddress(2) +
                        "\n"
                        "Downloading file p2i1.jpg...ALREADY SAVED\n"
                        "Downloading file p2i2.jpg...OK\n"
                        "Task finished !\n 2 file(s) downloaded. 3 file(s) already saved.\n"));
        EXPECT_EQ(readFile(folder / "out" / "p1i2.jpg"), "bytes of " + imageAddress(1, 2));
        // Bodies only for the two files that were not saved whole.
        int gets = 0;
        for (const Request& r : server.requests()) {
            if (r.url.find(".radikal.ru/") != std::string::npos && r.method == "GET") ++gets;
        }
        EXPECT_EQ(gets, 2);
    }
}

// What a failed download left is never taken for a file saved already, and a file found saved
// keeps its name: another file of the same name never replaces it.
TEST_F(VelnoriaGetThread, SkipExistingTrustsOnlyWholeFilesAndNeverReplacesOne) {
    const std::string first = "http://s1.radikal.ru/i/same.jpg";
    const std::string second = "http://s2.radikal.ru/i/same.jpg";
    const std::string broken = "http://s3.radikal.ru/i/broken.jpg";
    std::string page = "<html><body>";
    for (const std::string& image : {first, second, broken}) {
        page += "<img src=\"" + image.substr(0, image.size() - 4) + "t.jpg\">";
    }
    server.route(kForum, Reply::ok(page + "</body></html>", "text/html"));
    server.route(first, Reply::ok("the first picture", "image/jpeg"));
    server.route(second, Reply::ok("the second picture, a longer one", "image/jpeg"));
    server.route(broken, Reply::withStatus(404, "<html>Not Found</html>"));
    for (const std::string parallel : {"1", "4"}) {
        SCOPED_TRACE("--parallel " + parallel);
        fs::remove_all(folder / "out");
        fs::create_directory(folder / "out");
        const std::vector<std::string> args = {"--skip-existing", "--parallel", parallel, kForum};
        ChildResult run1 = run(args);
        EXPECT_EQ(run1.exitCode, 1) << run1.err;
        EXPECT_EQ(saved(), (std::vector<std::string>{"same (2).jpg", "same.jpg"}));

        // The broken image is there now; the two of one name are saved already.
        server.route(broken, Reply::ok("the mended picture", "image/jpeg"));
        const ChildResult run2 = run(args);
        EXPECT_EQ(run2.exitCode, 0) << run2.err;
        EXPECT_EQ(sortedLines(run2.out),
                  sortedLines("Starting download process...\n"
                              "Downloading file same.jpg...ALREADY SAVED\n"
                              "Downloading file same (2).jpg...ALREADY SAVED\n"
                              "Downloading file broken.jpg...OK\n"
                              "Task finished !\n 1 file(s) downloaded. 2 file(s) already "
                              "saved.\n"));
        EXPECT_EQ(readFile(folder / "out" / "same.jpg"), "the first picture");
        EXPECT_EQ(readFile(folder / "out" / "same (2).jpg"), "the second picture, a longer one");
        EXPECT_EQ(readFile(folder / "out" / "broken.jpg"), "the mended picture");
        server.route(broken, Reply::withStatus(404, "<html>Not Found</html>"));
    }
}

// A Photoshare album on a later page of a thread is that page's own: its rule reads the links of
// the page being walked, not those of the first page.
TEST_F(VelnoriaGetThread, APhotoshareAlbumOnALaterPageIsItsOwn) {
    const std::string page1 = "<html><head><link rel=\"next\" href=\"" + pageAddress(2) +
                              "\"></head><body><img src=\"" + thumbAddress(1, 1) +
                              "\"><a href=\"http://photoshare.ru/photo11.html\">a</a>"
                              "</body></html>";
    const std::string page2 =
        "<html><body><img src=\"http://photoshare.ru/th/2.jpg\">"
        "<a href=\"http://photoshare.ru/photo21.html\">1</a>"
        "<a href=\"http://photoshare.ru/photo22.html\">2</a></body></html>";
    server.route(pageAddress(1), Reply::ok(page1, "text/html"));
    server.route(pageAddress(2), Reply::ok(page2, "text/html"));
    for (const char* const id : {"11", "21", "22"}) {
        server.route(std::string("http://photoshare.ru/original/photoshare.ru-") + id + ".jpg",
                     Reply::ok(std::string("photo ") + id, "image/jpeg"));
    }
    const ChildResult result = run({"--all-pages", pageAddress(1)});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(saved(), (std::vector<std::string>{"21.jpg", "22.jpg", "p1i1.jpg"}));
    EXPECT_EQ(readFile(folder / "out" / "22.jpg"), "photo 22");

    // The dry run says the same.
    const ChildResult dry = run({"--print-targets", "--all-pages", pageAddress(1)});
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_NE(dry.out.find("http://photoshare.ru/th/2.jpg -> "
                           "http://photoshare.ru/original/photoshare.ru-21.jpg 21.jpg"),
              std::string::npos)
        << dry.out;
    EXPECT_EQ(dry.out.find("photoshare.ru-11"), std::string::npos) << dry.out;
}

TEST_F(VelnoriaGetThread, ParallelTakesOneToSixteen) {
    for (const std::string bad : {"0", "17", "x", "", "-1"}) {
        const ChildResult result = run({"--parallel", bad, kForum});
        EXPECT_EQ(result.exitCode, 2) << bad;
        EXPECT_EQ(result.err,
                  "velnoria-get: --parallel must be a whole number from 1 to 16 (see "
                  "velnoria-get --help)\n")
            << bad;
    }
}

TEST_F(VelnoriaGetThread, RetryWithDownloadsAtOnceLosesNoAddressToACtrlC) {
    std::string list;
    for (int i = 0; i < 20000; ++i)
        list +=
            "http://s" + std::to_string(i % 5) + ".radikal.ru/m/" + std::to_string(i) + ".jpg\r\n";
    writeFile(folder / "failed.txt", list);
    testing::ChildProcess child(kProgram, {"--retry-failed", "--parallel", "6"}, folder.path());
    ASSERT_TRUE(server.waitForRequests(300, 30s));
    child.signal(SIGINT);
    const ChildResult result = child.finish(30s);
    ASSERT_EQ(result.exitCode, 130) << result.err;

    // Every address not saved whole is still listed; the list holds nothing else.
    const std::vector<std::string> before = sortedLines(list);
    const std::vector<std::string> after = sortedLines(readFile(folder / "failed.txt"));
    std::vector<std::string> done;
    for (std::size_t at = 0;
         (at = result.out.find("Downloading file ", at)) != std::string::npos;) {
        const std::size_t end = result.out.find('\n', at);
        const std::string line = result.out.substr(at, end - at);
        at = end;
        if (!line.ends_with("...OK")) continue;
        const std::string name = line.substr(17, line.size() - 17 - 5);
        done.push_back(name);
    }
    EXPECT_GE(done.size(), 250u);
    EXPECT_TRUE(std::includes(before.begin(), before.end(), after.begin(), after.end()));
    std::size_t missing = 0;
    for (const std::string& line : before) {
        const std::string name =
            line.substr(line.rfind('/') + 1, line.size() - line.rfind('/') - 2);
        const bool saved = std::find(done.begin(), done.end(), name) != done.end();
        if (!saved && !std::binary_search(after.begin(), after.end(), line)) ++missing;
    }
    EXPECT_EQ(missing, 0u);
    EXPECT_LT(after.size(), before.size());
}

// The archive: what a run saved is skipped the next time without a request, and a thread goes
// on from the last page read.
class VelnoriaGetArchive : public VelnoriaGetThread {
  protected:
    std::vector<std::string> rows(const std::string& sql) const {
        return testing::sqliteRows(folder / "archive.sqlite", sql);
    }

    void forgetEverything() {
        fs::remove_all(folder / "out");
        fs::create_directory(folder / "out");
        for (const char* file : {"archive.sqlite", "archive.sqlite-wal", "archive.sqlite-shm"}) {
            fs::remove(folder / file);
        }
        server.clearRequests();
    }

    std::vector<std::string> requestedUrls() const {
        std::vector<std::string> urls;
        for (const Request& r : server.requests()) urls.push_back(r.url);
        return urls;
    }
};

TEST_F(VelnoriaGetArchive, ARunAgainReadsTheFirstAndTheLastPageAndNothingElse) {
    server.route(pageAddress(1), Reply::ok(threadPage(1, 3, pageAddress(2)), "text/html"));
    server.route(pageAddress(2), Reply::ok(threadPage(2, 2, pageAddress(3)), "text/html"));
    for (const std::string parallel : {"1", "4"}) {
        SCOPED_TRACE("--parallel " + parallel);
        server.route(pageAddress(3), Reply::ok(threadPage(3, 2, ""), "text/html"));
        forgetEverything();
        const std::vector<std::string> args = {"--archive", "--all-pages", "--parallel", parallel,
                                               pageAddress(1)};
        const ChildResult first = run(args);
        EXPECT_EQ(first.exitCode, 0) << first.err;
        EXPECT_EQ(saved().size(), 7u);
        EXPECT_EQ(
            rows("SELECT entry, full_address, file_name, folder, page, thread FROM "
                 "saved_file WHERE file_name = 'p2i1.jpg'"),
            std::vector<std::string>{thumbAddress(2, 1) + "|" + imageAddress(2, 1) + "|p2i1.jpg|" +
                                     (folder / "out").string() + "|2|" + pageAddress(1)});
        EXPECT_EQ(rows("SELECT count(*) FROM saved_file WHERE length(sha256) = 64"),
                  std::vector<std::string>{"7"});
        EXPECT_EQ(rows("SELECT page, address FROM thread_page"),
                  std::vector<std::string>{"3|" + pageAddress(3)});

        // Unchanged, and a file deleted meanwhile: it stays deleted.
        fs::remove(folder / "out" / "p1i2.jpg");
        server.clearRequests();
        const ChildResult second = run(args);
        EXPECT_EQ(second.exitCode, 0) << second.err;
        EXPECT_EQ(second.out,
                  "Starting download process...\n"
                  "Downloading file p1i1.jpg...ALREADY SAVED\n"
                  "Downloading file p1i2.jpg...ALREADY SAVED\n"
                  "Downloading file p1i3.jpg...ALREADY SAVED\n"
                  "Reading page 3: " +
                      pageAddress(3) +
                      "\n"
                      "Downloading file p3i1.jpg...ALREADY SAVED\n"
                      "Downloading file p3i2.jpg...ALREADY SAVED\n"
                      "Task finished !\nNo file downloaded. 5 file(s) already saved.\n");
        EXPECT_EQ(requestedUrls(), (std::vector<std::string>{pageAddress(1), pageAddress(3)}));
        EXPECT_FALSE(fs::exists(folder / "out" / "p1i2.jpg"));

        // New images on the last page, and a page after it: only they are fetched.
        server.route(pageAddress(3), Reply::ok(threadPage(3, 4, pageAddress(4)), "text/html"));
        server.route(pageAddress(4), Reply::ok(threadPage(4, 1, ""), "text/html"));
        server.clearRequests();
        const ChildResult third = run(args);
        EXPECT_EQ(third.exitCode, 0) << third.err;
        EXPECT_EQ(
            sortedLines(third.out),
            sortedLines("Starting download process...\n"
                        "Downloading file p1i1.jpg...ALREADY SAVED\n"
                        "Downloading file p1i2.jpg...ALREADY SAVED\n"
                        "Downloading file p1i3.jpg...ALREADY SAVED\n"
                        "Reading page 3: " +
                        pageAddress(3) +
                        "\n"
                        "Downloading file p3i1.jpg...ALREADY SAVED\n"
                        "Downloading file p3i2.jpg...ALREADY SAVED\n"
                        "Downloading file p3i3.jpg...OK\n"
                        "Downloading file p3i4.jpg...OK\n"
                        "Reading page 4: " +
                        pageAddress(4) +
                        "\n"
                        "Downloading file p4i1.jpg...OK\n"
                        "Task finished !\n 3 file(s) downloaded. 5 file(s) already saved.\n"));
        EXPECT_EQ(imageRequests(), 3u);
        EXPECT_EQ(server.requestsFor(pageAddress(2)).size(), 0u);
        EXPECT_EQ(rows("SELECT page, address FROM thread_page"),
                  std::vector<std::string>{"4|" + pageAddress(4)});
    }
}

TEST_F(VelnoriaGetArchive, TheSameImageTwiceIsSavedOnce) {
    // A quoted post shows the same thumbnail again; a linked image leads to a full-size image
    // saved already; two addresses answer the same bytes.
    const std::string linked =
        "<a href=\"" + imageAddress(1, 1) + "\"><img src=\"http://other.example/smile.gif\"></a>\n";
    const std::string html = "<html><body>\n<img src=\"" + thumbAddress(1, 1) + "\">\n<img src=\"" +
                             thumbAddress(1, 1) + "\">\n" + linked + "<img src=\"" +
                             thumbAddress(1, 3) + "\">\n<img src=\"" + thumbAddress(1, 4) +
                             "\">\n</body></html>";
    server.route(kForum, Reply::ok(html, "text/html"));
    server.route(imageAddress(1, 3), Reply::ok("same bytes", "image/jpeg"));
    server.route(imageAddress(1, 4), Reply::ok("same bytes", "image/jpeg"));
    for (const std::string parallel : {"1", "4"}) {
        SCOPED_TRACE("--parallel " + parallel);
        forgetEverything();
        const std::vector<std::string> args = {"--archive", "--linked-images", "--parallel",
                                               parallel, kForum};
        const ChildResult first = run(args);
        EXPECT_EQ(first.exitCode, 0) << first.err;
        const std::string expected =
            "Starting download process...\n"
            "Downloading file p1i1.jpg...OK\n"
            "Downloading file p1i1.jpg...ALREADY SAVED\n"
            "Downloading file p1i1.jpg...ALREADY SAVED\n"
            "Downloading file p1i3.jpg...OK\n"
            "Downloading file p1i4.jpg...SAME AS p1i3.jpg\n"
            "Task finished !\n 2 file(s) downloaded. 3 file(s) already saved.\n";
        if (parallel == "1") {
            EXPECT_EQ(first.out, expected);
        } else {
            EXPECT_EQ(sortedLines(first.out), sortedLines(expected));
        }
        EXPECT_EQ(saved(), (std::vector<std::string>{"p1i1.jpg", "p1i3.jpg"}));
        EXPECT_EQ(imageRequests(), 3u);
        EXPECT_TRUE(server.requestsFor("http://other.example/smile.gif").empty());
        EXPECT_EQ(rows("SELECT entry, file_name FROM saved_file ORDER BY entry"),
                  (std::vector<std::string>{
                      imageAddress(1, 1) + "|p1i1.jpg", thumbAddress(1, 1) + "|p1i1.jpg",
                      thumbAddress(1, 3) + "|p1i3.jpg", thumbAddress(1, 4) + "|p1i3.jpg"}));

        // The next run asks for nothing but the page, and names the files as they were saved.
        server.clearRequests();
        const ChildResult second = run(args);
        EXPECT_EQ(second.exitCode, 0) << second.err;
        EXPECT_EQ(second.out,
                  "Starting download process...\n"
                  "Downloading file p1i1.jpg...ALREADY SAVED\n"
                  "Downloading file p1i1.jpg...ALREADY SAVED\n"
                  "Downloading file p1i1.jpg...ALREADY SAVED\n"
                  "Downloading file p1i3.jpg...ALREADY SAVED\n"
                  "Downloading file p1i3.jpg...ALREADY SAVED\n"
                  "Task finished !\nNo file downloaded. 5 file(s) already saved.\n");
        EXPECT_EQ(requestedUrls(), std::vector<std::string>{kForum});
    }
}

TEST_F(VelnoriaGetArchive, ARuleThatEndsTheWalkRunsAgainAndFindsItsNewFiles) {
    // Photoshare's rule saves what the page's links lead to, then ends the walk.
    const auto page = [](const std::string& links) {
        return "<html><body><img src=\"http://photoshare.ru/th/1.jpg\"><img src=\"" +
               thumbAddress(1, 1) + "\">" + links + "</body></html>";
    };
    const std::string link101 = "<a href=\"http://photoshare.ru/photo101.html\">1</a>";
    const std::string original = "http://photoshare.ru/original/photoshare.ru-";
    server.route(original + "101.jpg", Reply::ok("one", "image/jpeg"));
    server.route(original + "102.jpg", Reply::ok("two", "image/jpeg"));
    server.route(kForum, Reply::ok(page(link101), "text/html"));
    ASSERT_EQ(run({"--archive", kForum}).exitCode, 0);

    server.route(kForum,
                 Reply::ok(page(link101 + "<a href=\"http://photoshare.ru/photo102.html\">2</a>"),
                           "text/html"));
    server.clearRequests();
    const ChildResult again = run({"--archive", kForum});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out,
              "Starting download process...\n"
              "Downloading file 101.jpg...ALREADY SAVED\n"
              "Downloading file 102.jpg...OK\n"
              "Task finished !\n 1 file(s) downloaded. 1 file(s) already saved.\n");
    EXPECT_EQ(requestedUrls(), (std::vector<std::string>{kForum, original + "102.jpg"}));
}

TEST_F(VelnoriaGetArchive, FilesSkipExistingFindsAreRecordedForTheNextRun) {
    server.route(kForum, Reply::ok(threadPage(1, 2, ""), "text/html"));
    ASSERT_EQ(run({kForum}).exitCode, 0);  // saved before there was an archive

    const ChildResult found = run({"--archive", "--skip-existing", kForum});
    EXPECT_EQ(found.out,
              "Starting download process...\n"
              "Downloading file p1i1.jpg...ALREADY SAVED\n"
              "Downloading file p1i2.jpg...ALREADY SAVED\n"
              "Task finished !\nNo file downloaded. 2 file(s) already saved.\n");
    EXPECT_EQ(rows("SELECT file_name, size, sha256 FROM saved_file ORDER BY id"),
              (std::vector<std::string>{
                  "p1i1.jpg|" + std::to_string(("bytes of " + imageAddress(1, 1)).size()) + "|" +
                      hexText(sha256Of("bytes of " + imageAddress(1, 1))),
                  "p1i2.jpg|" + std::to_string(("bytes of " + imageAddress(1, 2)).size()) + "|" +
                      hexText(sha256Of("bytes of " + imageAddress(1, 2)))}));
    server.clearRequests();
    EXPECT_EQ(run({"--archive", "--skip-existing", kForum}).exitCode, 0);
    EXPECT_EQ(requestedUrls(), std::vector<std::string>{kForum});
}

TEST_F(VelnoriaGetArchive, ARememberedPageThatIsGoneLeavesTheThreadToItsFirstPage) {
    server.route(pageAddress(1), Reply::ok(threadPage(1, 1, pageAddress(2)), "text/html"));
    server.route(pageAddress(2), Reply::ok(threadPage(2, 1, pageAddress(3)), "text/html"));
    server.route(pageAddress(3), Reply::ok(threadPage(3, 1, ""), "text/html"));
    const std::vector<std::string> args = {"--archive", "--all-pages", pageAddress(1)};
    ASSERT_EQ(run(args).exitCode, 0);

    // The thread lost its last page.
    server.route(pageAddress(2), Reply::ok(threadPage(2, 2, ""), "text/html"));
    server.route(pageAddress(3), Reply::withStatus(404, "<html>gone</html>"));
    const ChildResult again = run(args);
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out,
              "Starting download process...\n"
              "Downloading file p1i1.jpg...ALREADY SAVED\n"
              "Reading page 3: " +
                  pageAddress(3) +
                  "\n"
                  "Page cannot be read: " +
                  pageAddress(3) +
                  " (the server answered with HTTP status 404)\n"
                  "Reading page 2: " +
                  pageAddress(2) +
                  "\n"
                  "Downloading file p2i1.jpg...ALREADY SAVED\n"
                  "Downloading file p2i2.jpg...OK\n"
                  "Task finished !\n 1 file(s) downloaded. 2 file(s) already saved.\n");
    EXPECT_EQ(rows("SELECT page, address FROM thread_page"),
              std::vector<std::string>{"2|" + pageAddress(2)});
}

TEST_F(VelnoriaGetArchive, WatchEndsAtOnceOnCtrlCInTheWait) {
    server.route(pageAddress(1), Reply::ok(threadPage(1, 2, ""), "text/html"));
    testing::ChildProcess child(kProgram, {"--watch", "5", pageAddress(1)}, folder.path());
    const fs::path out = fs::path(folder.path()).concat(".stdout");
    const auto bound = std::chrono::steady_clock::now() + 30s;
    while (readFile(out).find("Next check at") == std::string::npos &&
           std::chrono::steady_clock::now() < bound) {
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(100ms);  // well into the wait
    const auto signalled = std::chrono::steady_clock::now();
    child.signal(SIGINT);
    const ChildResult result = child.finish(20s);
    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 2s);
    const std::string start =
        "Starting download process...\n"
        "Downloading file p1i1.jpg...OK\nDownloading file p1i2.jpg...OK\n"
        "Task finished !\n 2 file(s) downloaded.\n 2 new file(s). Next check at ";
    ASSERT_TRUE(result.out.starts_with(start)) << result.out;
    // The date and time of the next check, five minutes on: "YYYY-MM-DD HH:MM:SS.\n".
    const std::string when = result.out.substr(start.size());
    EXPECT_EQ(when.size(), 21u) << when;
    EXPECT_TRUE(when.ends_with(".\n")) << when;
    // Watching keeps the archive.
    EXPECT_EQ(rows("SELECT file_name FROM saved_file ORDER BY id"),
              (std::vector<std::string>{"p1i1.jpg", "p1i2.jpg"}));
    EXPECT_EQ(server.requestCount(), 3u);
}

TEST_F(VelnoriaGetArchive, AnArchiveThatCannotBeUsedStopsTheRunAndStaysAsItWas) {
    server.route(pageAddress(1), Reply::ok(threadPage(1, 2, ""), "text/html"));
    // A real archive, its second page overwritten.
    ASSERT_EQ(run({"--archive", "made.sqlite", pageAddress(1)}).exitCode, 0);
    std::string damaged = readFile(folder / "made.sqlite");
    ASSERT_GT(damaged.size(), 8192u);
    std::fill(damaged.begin() + 4096, damaged.begin() + 8192, '\xA5');
    const struct {
        const char* what;
        std::string bytes;
        std::string reason;
    } cases[] = {
        {"not SQLite", "notes of mine\n", "is not an SQLite database"},
        {"damaged", damaged, "is damaged"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path archive = folder / "mine.sqlite";
        writeFile(archive, c.bytes);
        const std::string before = readFile(archive);
        server.clearRequests();
        const ChildResult result = run({"--archive=" + archive.string(), pageAddress(1)});
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(result.err.starts_with(
            "velnoria-get: Archive cannot be used: " + archive.string() + " " + c.reason))
            << result.err;
        EXPECT_EQ(readFile(archive), before);
        EXPECT_EQ(imageRequests(), 0u);
        EXPECT_FALSE(fs::exists(fs::path(archive).concat("-wal")));

        // A retry does not start either, and failed.txt keeps every address.
        const std::string list = thumbAddress(1, 1) + "\r\n" + imageAddress(1, 2) + "\r\n";
        writeFile(folder / "failed.txt", list);
        const ChildResult retry = run({"--retry-failed", "--archive=" + archive.string()});
        EXPECT_EQ(retry.exitCode, 2);
        EXPECT_TRUE(retry.err.starts_with("velnoria-get: Archive cannot be used: ")) << retry.err;
        EXPECT_EQ(readFile(folder / "failed.txt"), list);
        EXPECT_EQ(readFile(archive), before);
        EXPECT_EQ(imageRequests(), 0u);
    }
}

// Every file below a folder, by its path from there.
std::vector<std::string> filesBelow(const fs::path& top) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
        if (!entry.is_directory()) files.push_back(entry.path().lexically_relative(top).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST_F(VelnoriaGetArchive, FolderAndNameTemplatesNameEveryFileInsideTheSaveFolder) {
    const std::vector<std::string> templates = {"--folder", "{host}/{title}", "--name",
                                                "{page:02}-{index:03} {name}.{ext}"};
    const struct {
        const char* what;
        std::string title;
        std::string folder;  // below out/forum.example
    } titles[] = {
        {"a plain title", "Cats &amp; dogs", "/Cats & dogs"},
        {"a way out", "../x", "/_._x"},
        {"a hidden name", ".hidden", "/_hidden"},
        {"the program's own file", "settings.dat", "/_settings.dat"},
        {"300 bytes", std::string(300, 'b'), "/" + std::string(200, 'b')},
        {"bytes that are not UTF-8", "caf\xe9", "/caf\xef\xbf\xbd"},
        {"a folder in the title", "a/b\\c", "/a_b_c"},
        {"no title", "", ""},
    };
    for (const auto& c : titles) {
        SCOPED_TRACE(c.what);
        forgetEverything();
        std::string html = threadPage(1, 2, "");
        html.replace(html.find("<title>Page"), 11, "<title>" + c.title);
        server.route(pageAddress(1), Reply::ok(html, "text/html"));
        std::vector<std::string> args = templates;
        args.push_back(pageAddress(1));
        const ChildResult result = run(args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const std::string folderName = "forum.example" + c.folder + "/";
        EXPECT_EQ(filesBelow(folder / "out"),
                  (std::vector<std::string>{folderName + "01-001 p1i1.jpg",
                                            folderName + "01-002 p1i2.jpg"}));
        EXPECT_EQ(readFile(folder / "out" / (folderName + "01-002 p1i2.jpg")),
                  "bytes of " + imageAddress(1, 2));
    }

    // A link in the folder's place is never followed: the files fail, nothing lands elsewhere.
    forgetEverything();
    server.route(pageAddress(1), Reply::ok(threadPage(1, 1, ""), "text/html"));
    fs::create_directory(folder / "elsewhere");
    fs::create_directory_symlink(folder / "elsewhere", folder / "out" / "forum.example");
    std::vector<std::string> args = templates;
    args.push_back(pageAddress(1));
    const ChildResult linked = run(args);
    EXPECT_EQ(linked.exitCode, 1);
    EXPECT_NE(linked.out.find("Downloading file 01-001 p1i1.jpg...FAILED (cannot use the folder "
                              "forum.example (a link))\nFAILURE LOGGED.\n"),
              std::string::npos)
        << linked.out;
    EXPECT_TRUE(fs::is_empty(folder / "elsewhere"));
    fs::remove(folder / "failed.txt");

    // A whole thread: the archive and the next run follow the names the templates made.
    server.route(pageAddress(1), Reply::ok(threadPage(1, 2, pageAddress(2)), "text/html"));
    server.route(pageAddress(2), Reply::ok(threadPage(2, 1, ""), "text/html"));
    forgetEverything();
    const std::vector<std::string> thread = {
        "--archive",   "--all-pages", "--folder", "{title}", "--name", "{page:02}-{index:03}.{ext}",
        pageAddress(1)};
    ASSERT_EQ(run(thread).exitCode, 0);
    EXPECT_EQ(filesBelow(folder / "out"),
              (std::vector<std::string>{"Page/01-001.jpg", "Page/01-002.jpg", "Page/02-001.jpg"}));
    EXPECT_EQ(rows("SELECT file_name, folder FROM saved_file WHERE page = 2"),
              std::vector<std::string>{"02-001.jpg|" + (folder / "out" / "Page").string()});
    const ChildResult again = run(thread);
    EXPECT_EQ(again.out,
              "Starting download process...\n"
              "Downloading file 01-001.jpg...ALREADY SAVED\n"
              "Downloading file 01-002.jpg...ALREADY SAVED\n"
              "Reading page 2: " +
                  pageAddress(2) +
                  "\n"
                  "Downloading file 02-001.jpg...ALREADY SAVED\n"
                  "Task finished !\nNo file downloaded. 3 file(s) already saved.\n");

    // One name for every file: numbered as any name met twice, and found again by skip existing.
    forgetEverything();
    const std::vector<std::string> sameName = {"--skip-existing", "--all-pages", "--name",
                                               "{title}.{ext}", pageAddress(1)};
    ASSERT_EQ(run(sameName).exitCode, 0);
    EXPECT_EQ(saved(), (std::vector<std::string>{"Page (2).jpg", "Page (3).jpg", "Page.jpg"}));
    EXPECT_EQ(readFile(folder / "out" / "Page (3).jpg"), "bytes of " + imageAddress(2, 1));
    server.clearRequests();
    const ChildResult skipped = run(sameName);
    EXPECT_EQ(skipped.out,
              "Starting download process...\n"
              "Downloading file Page.jpg...ALREADY SAVED\n"
              "Downloading file Page (2).jpg...ALREADY SAVED\n"
              "Reading page 2: " +
                  pageAddress(2) +
                  "\n"
                  "Downloading file Page (3).jpg...ALREADY SAVED\n"
                  "Task finished !\nNo file downloaded. 3 file(s) already saved.\n");
    for (const Request& r : server.requests()) {
        if (r.url.find(".radikal.ru/") != std::string::npos) {
            EXPECT_EQ(r.method, "HEAD");
        }
    }
}

// A thread of 60 images whose answers come a little late, so that jobs overlap and a kill meets
// one in the middle.
class VelnoriaGetArchiveFaults : public VelnoriaGetArchive {
  protected:
    void SetUp() override {
        VelnoriaGetArchive::SetUp();
        std::string html = "<html><body>\n";
        for (int i = 1; i <= kImages; ++i) html += "<img src=\"" + thumbAddress(1, i) + "\">\n";
        server.route(kForum, Reply::ok(html + "</body></html>", "text/html"));
        server.setFallback([](const Request& request) {
            Reply reply = Reply::ok("bytes of " + request.url, "image/jpeg");
            reply.headerDelay = 15ms;
            return reply;
        });
    }

    void expectEveryImageWholeOnce(const fs::path& out) const {
        for (int i = 1; i <= kImages; ++i) {
            EXPECT_EQ(readFile(out / ("p1i" + std::to_string(i) + ".jpg")),
                      "bytes of " + imageAddress(1, i));
        }
        EXPECT_EQ(
            rows("SELECT count(*), count(DISTINCT entry) FROM saved_file"),
            std::vector<std::string>{std::to_string(kImages) + "|" + std::to_string(kImages)});
    }

    static constexpr int kImages = 60;
};

TEST_F(VelnoriaGetArchiveFaults, AJobKilledInTheMiddleLeavesAnArchiveTheNextRunGoesOnWith) {
    const std::vector<std::string> args = {"--archive", "--parallel", "4", kForum};
    testing::ChildProcess child(kProgram, args, folder.path());
    ASSERT_TRUE(server.waitForRequests(25, 30s));
    child.signal(SIGKILL);
    child.finish(10s);
    const std::vector<std::string> recorded = rows("SELECT full_address FROM saved_file");
    ASSERT_FALSE(recorded.empty());
    ASSERT_FALSE(recorded.front().starts_with("error:")) << recorded.front();
    EXPECT_LT(recorded.size(), static_cast<std::size_t>(kImages));

    server.clearRequests();
    const ChildResult again = run(args);
    EXPECT_EQ(again.exitCode, 0) << again.err;
    expectEveryImageWholeOnce(folder / "out");
    // What the killed job recorded was not asked for again; everything else was, once.
    for (const std::string& url : recorded) EXPECT_TRUE(server.requestsFor(url).empty()) << url;
    EXPECT_EQ(imageRequests(), kImages - recorded.size());
}

TEST_F(VelnoriaGetArchiveFaults, TwoJobsOnOneArchiveBothFinishAndRecordEachFileOnce) {
    const fs::path archive = folder / "archive.sqlite";
    std::vector<std::unique_ptr<testing::ChildProcess>> jobs;
    for (const char* name : {"first", "second"}) {
        fs::create_directory(folder / name);
        jobs.push_back(std::make_unique<testing::ChildProcess>(
            kProgram,
            std::vector<std::string>{"--archive=" + archive.string(), "--parallel", "2",
                                     "--save-folder", (folder / "out").string(), kForum},
            folder / name));
    }
    for (auto& job : jobs) {
        const ChildResult result = job->finish(60s);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_TRUE(result.out.ends_with(" file(s) already saved.\n") ||
                    result.out.ends_with(" file(s) downloaded.\n"))
            << result.out;
    }
    expectEveryImageWholeOnce(folder / "out");
}

TEST_F(VelnoriaGetArchiveFaults, AnArchiveOnAFullDiskIsSaidOnceAndEveryFileStillComes) {
    testing::ScopedTmpfs disk("160k");
    if (!disk.mounted()) GTEST_SKIP() << disk.error();
    const fs::path archive = disk.path() / "archive.sqlite";
    const ChildResult result = run({"--archive=" + archive.string(), kForum});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::string said = "Archive cannot be used: " + archive.string() + " cannot be written (";
    const std::size_t at = result.out.find(said);
    ASSERT_NE(at, std::string::npos) << result.out;
    EXPECT_EQ(result.out.find(said, at + 1), std::string::npos) << "said more than once";
    EXPECT_TRUE(result.out.ends_with("Task finished !\n 60 file(s) downloaded.\n")) << result.out;
    for (int i = 1; i <= kImages; ++i) {
        EXPECT_EQ(readFile(folder / "out" / ("p1i" + std::to_string(i) + ".jpg")),
                  "bytes of " + imageAddress(1, i));
    }
    // What it could take is there, whole.
    const std::vector<std::string> kept =
        testing::sqliteRows(archive, "SELECT count(*) FROM saved");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_GT(std::stoi(kept.front()), 0);
    EXPECT_LT(std::stoi(kept.front()), kImages);
}

}  // namespace
}  // namespace velnoria
