// velnoria-get on whole threads: next pages, files already saved, failures retried and downloads
// at once, each against the real program on the loopback server. Every run has its bound.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_http_server.h"

namespace velnoria {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ChildResult;
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
    if (!next.empty() && !asLink) html += "<a class=nav rel=\"next\" href=\"" + next + "\">Next</a>";
    return html + "</body></html>\n";
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

    std::vector<std::string> saved() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder / "out")) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

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
         "Page cannot be read: " + kForum +
             "?page=404 (the server answered with HTTP status 404)",
         1},
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
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const std::string ending = c.lastLine + "\nTask finished !\n " +
                                   std::to_string(c.files) + " file(s) downloaded.\n";
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
    EXPECT_TRUE(result.out.ends_with(
        "Next page not read (the limit of 50 pages is reached): " + pageAddress(51) +
        "\nTask finished !\nNo file downloaded.\n"))
        << result.out;
    EXPECT_TRUE(server.requestsFor(pageAddress(51)).empty());
}

}  // namespace
}  // namespace velnoria
