// velnoria-get run as users run it: a separate process in a folder of its own, every request
// going through http_proxy to the test's loopback server.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_http_server.h"

namespace velnoria {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::ChildResult;
using testing::namesIn;
using testing::readFile;
using testing::Reply;
using testing::runChild;
using testing::TempFolder;
using testing::writeFile;

const std::string kProgram = VELNORIA_GET_PATH;
const std::string kThread = "http://forum.example/board/thread?id=7";

// A thumbnail of a service whose full-size address is a rewrite of the thumbnail's.
struct Thumbnail {
    std::string src;     // as written in the page
    std::string target;  // the full-size address asked for
    std::string name;    // the file it is saved as
};

const std::vector<Thumbnail> kRewriteServices = {
    {"http://img5.imageshack.us/img5/12/shack.th.jpg",
     "http://img5.imageshack.us/img5/12/shack.jpg", "shack.jpg"},
    {"http://lh3.googleusercontent.com/-abc/s128/pic6.jpg",
     "http://lh3.googleusercontent.com/-abc/d/pic6.jpg", "pic6.jpg"},
    {"http://media.onsugar.com/files/2026/larger.sugar7.jpg",
     "http://media.onsugar.com/files/2026/sugar7.jpg", "sugar7.jpg"},
    {"http://www.hqcity.net/thumbs/city8.jpg", "http://www.hqcity.net/hq/city8.jpg", "city8.jpg"},
    {"//thumb.skins.be/9/skin9.jpg", "http://img.skins.be/9/skin9.jpg", "skin9.jpg"},
    {"http://s10.radikal.ru/i1/rad10t.jpg", "http://s10.radikal.ru/i1/rad10.jpg", "rad10.jpg"},
    {"http://users.photofile.ru/photo/ann/13/small/file13.jpg?cid=5",
     "http://users.photofile.ru/photo/ann/13/file13.jpg", "file13.jpg"},
    {"http://sharenxs.com/thumbnails/x/caba/y/ab14-nxs14.jpg",
     "http://images.sharenxs.com/wz/caba/y/nxs14.jpg", "nxs14.jpg"},
    {"http://www.frillr.com/thumbnails/u/frillr15.jpg",
     "http://www.frillr.com/images/u/frillr15.jpg", "frillr15.jpg"},
    {"http://thumb16.webshots.com/s/shot16_th.jpg", "http://thumb16.webshots.com/s/shot16_fs.jpg",
     "shot16_th.jpg"},
    {"http://img-fotki.yandex.ru/get/17/ann/fotki17-S.jpg",
     "http://img-fotki.yandex.ru/get/17/ann/fotki17-orig.jpg", "fotki17.jpg.jpg"},
};

std::string threadPage(const std::vector<Thumbnail>& thumbnails) {
    std::string html =
        "<!DOCTYPE html><html><head><title>Thread</title></head><body>\n"
        "<img src=\"/smilies/smile.gif\"><img src=\"http://ads.example/banner.png\">\n";
    for (const auto& t : thumbnails) {
        html += "<div class=post><a href=\"" + t.target + "\"><img src=\"" + t.src +
                "\" alt=thumb></a></div>\n";
    }
    return html + "</body></html>\n";
}

std::string imageBytes(const std::string& name) {
    return "\x89PNG bytes of " + name + "\r\n\x1a";
}

std::string expectedLog(const std::vector<Thumbnail>& thumbnails) {
    std::string out = "Starting download process...\n";
    for (const auto& t : thumbnails) out += "Downloading file " + t.name + "...OK\n";
    return out;
}

class VelnoriaGet : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const auto& t : kRewriteServices) {
            server.route(t.target, Reply::ok(imageBytes(t.name), "image/jpeg"));
        }
    }

    std::vector<std::string> files(const fs::path& folder) const { return namesIn(folder); }

    testing::TestHttpServer server;
    testing::ScopedProxy proxy{server};
    TempFolder folder;
};

TEST_F(VelnoriaGet, SavesTheFullSizeImagesOfEveryRewriteService) {
    server.route(kThread, Reply::ok(threadPage(kRewriteServices), "text/html"));
    const ChildResult run =
        runChild(kProgram, {"--save-folder", "out/pics", kThread}, folder.path());

    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              expectedLog(kRewriteServices) + "Task finished !\n 11 file(s) downloaded.\n");
    // The first start in this folder: settings.dat made; its default folder is not the one this
    // run saves into, so it is neither reported nor made.
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readFile(folder / "settings.dat"), "CURDIR$\\images\r\n 30 \r\n 102400 \r\n");
    EXPECT_FALSE(fs::exists(folder / "images"));
    EXPECT_FALSE(fs::exists(folder / "failed.txt"));

    std::vector<std::string> expectedNames;
    for (const auto& t : kRewriteServices) {
        EXPECT_EQ(readFile(folder / "out" / "pics" / t.name), imageBytes(t.name)) << t.name;
        expectedNames.push_back(t.name);
    }
    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(files(folder / "out" / "pics"), expectedNames);
    // Addresses of no service were never asked for.
    EXPECT_TRUE(server.requestsFor("http://ads.example/banner.png").empty());
    EXPECT_TRUE(server.requestsFor("http://forum.example/smilies/smile.gif").empty());
}

TEST_F(VelnoriaGet, ReadsALocalPageAndTheSettingsFile) {
    writeFile(folder / "thread.html", threadPage({kRewriteServices[0], kRewriteServices[3]}));
    const std::string settings = "saved\r\n 5 \r\n 4 \r\n";
    writeFile(folder / "settings.dat", settings);
    fs::create_directory(folder / "saved");

    const ChildResult run = runChild(kProgram, {"--timeout", "9", "thread.html"}, folder.path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, expectedLog({kRewriteServices[0], kRewriteServices[3]}) +
                           "Task finished !\n 2 file(s) downloaded.\n");
    EXPECT_EQ(readFile(folder / "saved" / "shack.jpg"), imageBytes("shack.jpg"));
    EXPECT_EQ(readFile(folder / "saved" / "city8.jpg"), imageBytes("city8.jpg"));
    // Options are for this run only.
    EXPECT_EQ(readFile(folder / "settings.dat"), settings);
}

TEST_F(VelnoriaGet, ARefusedAddressIsLoggedAndEndsWithStatusOne) {
    const Thumbnail missing{"http://s10.radikal.ru/i1/gonet.jpg",
                            "http://s10.radikal.ru/i1/gone.jpg", "gone.jpg"};
    server.route(missing.target, Reply::withStatus(404, "<html>Not Found</html>"));
    server.route(kThread, Reply::ok(threadPage({missing, kRewriteServices[5]}), "text/html"));

    const ChildResult run = runChild(kProgram, {"--save-folder", "pics", kThread}, folder.path());
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.out,
              "Starting download process...\n"
              "Downloading file gone.jpg...FAILED (HTTP 404)\nRESTART DOWNLOAD.\n"
              "Downloading file gone.jpg...FAILED (HTTP 404)\nRESTART DOWNLOAD.\n"
              "Downloading file gone.jpg...FAILED (HTTP 404)\nFAILURE LOGGED.\n"
              "Downloading file rad10.jpg...OK\n"
              "Task finished !\n 1 file(s) downloaded.\n");
    EXPECT_EQ(readFile(folder / "failed.txt"), missing.target + "\r\n");
    EXPECT_EQ(server.requestsFor(missing.target).size(), 3u);
}

TEST_F(VelnoriaGet, RelativeThumbnailsFollowARedirectedPage) {
    server.route("http://www.hqcity.net/forum/old", Reply::redirect("/board/t/1"));
    server.route("http://www.hqcity.net/board/t/1",
                 Reply::ok("<p><img src=\"thumbs/moved.jpg\"></p>", "text/html"));
    server.route("http://www.hqcity.net/board/t/hq/moved.jpg", Reply::ok("moved", "image/jpeg"));

    const ChildResult run = runChild(
        kProgram, {"--save-folder", "p", "http://www.hqcity.net/forum/old"}, folder.path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readFile(folder / "p" / "moved.jpg"), "moved");
}

TEST_F(VelnoriaGet, PhotoshareWalksTheLinksOfTheParsedPage) {
    const std::string page =
        "<base href=\"http://photoshare.ru/album/\">"
        "<img src=\"http://photoshare.ru/th/1.jpg\">"
        "<a href=\"/photo101.html\">one</a><a href=\"http://photoshare.ru/photo101.html\">again</a>"
        "<a>no address</a>"
        "<map><area href=\"/photo102.html\"></map>"
        "<a href=\"http://elsewhere.example/photo103.html\">other</a>"
        "<img src=\"http://img5.imageshack.us/img5/12/shack.th.jpg\">";
    server.route(kThread, Reply::ok(page, "text/html"));
    server.route("http://photoshare.ru/original/photoshare.ru-101.jpg", Reply::ok("p101"));
    server.route("http://photoshare.ru/original/photoshare.ru-102.jpg", Reply::ok("p102"));

    const ChildResult run = runChild(kProgram, {"--save-folder", "p", kThread}, folder.path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // Adjacent equal links are fetched once; the walk ends the job before the next thumbnail.
    EXPECT_EQ(run.out,
              "Starting download process...\n"
              "Downloading file 101.jpg...OK\n"
              "Downloading file 102.jpg...OK\n"
              "Task finished !\n 2 file(s) downloaded.\n");
    EXPECT_EQ(readFile(folder / "p" / "101.jpg"), "p101");
    EXPECT_EQ(readFile(folder / "p" / "102.jpg"), "p102");
    EXPECT_TRUE(server.requestsFor(kRewriteServices[0].target).empty());
}

TEST_F(VelnoriaGet, UnusablePagesAndOptionsEndWithStatusTwo) {
    server.route("http://forum.example/missing", Reply::withStatus(404, "<img src=x>"));
    Reply unended;
    unended.raw = "HTTP/1.1 200 OK\r\nX-A: b\r\n";
    server.route("http://forum.example/unended", unended);
    Reply twoLengths = Reply::ok("<img src=x>");
    twoLengths.headers = {{"Content-Length", "10"}, {"Content-Length", "40"}};
    twoLengths.closeConnection = true;
    server.route("http://forum.example/two-lengths", twoLengths);
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"http://forum.example/missing"},
         "velnoria-get: cannot load http://forum.example/missing: the server answered with HTTP "
         "status 404\n"},
        {{"no-such-page.html"}, "velnoria-get: cannot load no-such-page.html: no such file\n"},
        {{"http://forum.example/unended"},
         "velnoria-get: cannot load http://forum.example/unended: invalid answer: header block cut "
         "short\n"},
        {{"http://forum.example/two-lengths"},
         "velnoria-get: cannot load http://forum.example/two-lengths: invalid answer: "
         "Content-Length 10 and 40\n"},
        {{"--timeout", "300", kThread},
         "velnoria-get: --timeout must be a whole number from 0 to 255 (see velnoria-get "
         "--help)\n"},
        {{}, "velnoria-get: no PAGE given (see velnoria-get --help)\n"},
        // Every bad line, by its number alone, before any request.
        {{"--cookies", "bad cookies.txt", kThread},
         "bad cookies.txt:2: the expiry (field 5) is not a number of seconds\n"
         "bad cookies.txt:4: 1 field(s); a cookie line has 7, separated by tabs (domain, "
         "subdomains, path, secure, expiry, name, value)\n"},
        {{"--cookies=missing.txt", kThread},
         "missing.txt: cannot be read: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        TempFolder runFolder;
        writeFile(runFolder / "settings.dat", "\r\n 30 \r\n 102400 \r\n");
        writeFile(runFolder / "bad cookies.txt",
                  "# Netscape HTTP Cookie File\n"
                  "forum.example\tFALSE\t/\tFALSE\tsoon\tsid\tsecret-one\n"
                  "forum.example\tFALSE\t/\tFALSE\t0\tuser\tann\n"
                  "secret-two\n");
        fs::create_directory(runFolder / "images");
        const ChildResult run = runChild(kProgram, c.args, runFolder.path());
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(fs::is_empty(runFolder / "images"));
        EXPECT_TRUE(server.requestsFor(kThread).empty());
    }
}

TEST_F(VelnoriaGet, HelpAndVersion) {
    ChildResult run = runChild(kProgram, {"--version"}, folder.path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "velnoria-get 2.2\n");
    run = runChild(kProgram, {"--help"}, folder.path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind("Usage: velnoria-get [--save-folder DIR] [--timeout SECONDS] "
                            "[--piece-size BYTES] PAGE\n",
                            0),
              0u);
    // Neither touches the folder.
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

TEST_F(VelnoriaGet, TheSessionOfTheOptionsReachesEachRequestItIsFor) {
    const Thumbnail& image = kRewriteServices[3];  // the thread's page on another site
    server.route(kThread, Reply::ok(threadPage({image}), "text/html"));
    writeFile(folder / "cookies.txt",
              "# Netscape HTTP Cookie File\n"
              "forum.example\tFALSE\t/board/\tFALSE\t0\tsid\tforum-login\n"
              ".hqcity.net\tTRUE\t/\tFALSE\t0\thq\timage-pass\n"
              "other.example\tTRUE\t/\tFALSE\t0\tnot\tfor-these-hosts\n"
              "www.hqcity.net\tFALSE\t/\tTRUE\t0\tsecure\thttps-only\n"
              "www.hqcity.net\tFALSE\t/\tFALSE\t1\told\texpired\n");
    const struct {
        std::vector<std::string> options;
        std::string agent;
        std::string referer;  // of the image's request
    } cases[] = {
        {{}, "Mozilla/5.0 (compatible; VelnoriaMorvath/2.2)", "http://forum.example/"},
        {{"--user-agent", "Browser/9 (X11)", "--no-referer"}, "Browser/9 (X11)", ""},
    };
    for (const auto& c : cases) {
        server.clearRequests();
        std::vector<std::string> args = {"--cookies", "cookies.txt", "--save-folder", "out"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(kThread);
        const ChildResult run = runChild(kProgram, args, folder.path());
        EXPECT_EQ(run.exitCode, 0) << run.err;

        const auto page = server.requestsFor(kThread);
        const auto file = server.requestsFor(image.target);
        ASSERT_EQ(page.size(), 1u);
        ASSERT_EQ(file.size(), 1u);
        EXPECT_EQ(page[0].header("Cookie"), "sid=forum-login");
        EXPECT_EQ(file[0].header("Cookie"), "hq=image-pass");
        for (const auto& request : {page[0], file[0]}) {
            EXPECT_EQ(request.header("User-Agent"), c.agent);
        }
        EXPECT_FALSE(page[0].hasHeader("Referer"));
        EXPECT_EQ(file[0].header("Referer"), c.referer);
        // Never shown: neither in the log nor on standard error.
        EXPECT_EQ((run.out + run.err).find("forum-login"), std::string::npos);
    }
}

TEST_F(VelnoriaGet, TheTimeoutReachesEveryRequest) {
    const Thumbnail silent{"http://thumb.skins.be/9/silent.jpg", "http://img.skins.be/9/silent.jpg",
                           "silent.jpg"};
    Reply never;
    never.neverAnswer = true;
    server.route(silent.target, never);
    server.route(kThread, Reply::ok(threadPage({silent}), "text/html"));

    const auto start = std::chrono::steady_clock::now();
    const ChildResult run = runChild(kProgram, {"--timeout", "1", kThread}, folder.path(), 30s);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
    EXPECT_EQ(readFile(folder / "failed.txt"), silent.target + "\r\n");
}

// The bytes of a download that has begun: those of the temporary file it is written to in the
// save folder; 0 while there is none.
std::uintmax_t bytesOfTheDownloadInHand(const fs::path& saveFolder) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(saveFolder, ec)) {
        if (entry.path().extension() == ".part") return fs::file_size(entry.path(), ec);
    }
    return 0;
}

TEST_F(VelnoriaGet, CtrlCStopsTheJobAndLeavesNothingOfTheFileInHand) {
    const Thumbnail big{"http://thumb.skins.be/9/big.jpg", "http://img.skins.be/9/big.jpg",
                        "big.jpg"};
    Reply slow = Reply::generated(1000000);
    slow.drip = testing::Drip{1000, 20ms};
    server.route(big.target, slow);
    server.route(kThread, Reply::ok(threadPage({big, kRewriteServices[0]}), "text/html"));

    ChildProcess child(kProgram, {"--piece-size", "1000", kThread}, folder.path());
    ASSERT_TRUE(server.waitForRequests(2, 20s));  // the page, then the big file
    // The stop comes once part of the body is written.
    const auto bound = std::chrono::steady_clock::now() + 20s;
    while (bytesOfTheDownloadInHand(folder / "images") == 0 &&
           std::chrono::steady_clock::now() < bound) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_GT(bytesOfTheDownloadInHand(folder / "images"), 0u);
    const auto stopped = std::chrono::steady_clock::now();
    child.signal(SIGINT);
    const ChildResult run = child.finish(20s);
    EXPECT_EQ(run.exitCode, 130) << run.err;
    // At once, not when the file (20 s of it) would have been whole.
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 5s);
    EXPECT_EQ(run.out,
              "Starting download process...\n"
              "Downloading file big.jpg...\n"
              "Task finished !\nNo file downloaded.\n");
    // Nothing of the file stays, not even its temporary file; nothing was logged; the next
    // thumbnail was never fetched.
    EXPECT_EQ(namesIn(folder / "images"), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(folder / "failed.txt"));
    EXPECT_TRUE(server.requestsFor(kRewriteServices[0].target).empty());
}

TEST_F(VelnoriaGet, SecondCtrlCEndsTheProgramAtOnce) {
    const Thumbnail stuck{"http://thumb.skins.be/9/stuck.jpg", "http://img.skins.be/9/stuck.jpg",
                          "stuck.jpg"};
    Reply never;
    never.neverAnswer = true;
    server.route(stuck.target, never);
    server.route(kThread, Reply::ok(threadPage({stuck}), "text/html"));

    ChildProcess child(kProgram, {kThread}, folder.path());
    ASSERT_TRUE(server.waitForRequests(2, 20s));
    std::this_thread::sleep_for(200ms);
    // Two at once: whichever of them ends the program, it ends at once.
    const auto start = std::chrono::steady_clock::now();
    child.signal(SIGINT);
    child.signal(SIGINT);
    const ChildResult run = child.finish(20s);
    EXPECT_EQ(run.exitCode, 130);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(VelnoriaGet, CtrlCWhileThePageLoadsEndsAtOnce) {
    Reply never;
    never.neverAnswer = true;
    server.route(kThread, never);
    ChildProcess child(kProgram, {kThread}, folder.path());
    ASSERT_TRUE(server.waitForRequests(1, 20s));
    child.signal(SIGINT);
    const ChildResult run = child.finish(20s);
    EXPECT_EQ(run.exitCode, 130);
    EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace velnoria
