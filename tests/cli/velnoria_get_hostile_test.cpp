// velnoria-get against a hostile server and a careless user, one table per family: nothing of
// the user's is lost, every failure is said with its reason, nothing hangs or runs away, and
// what cannot work is said at once. The real program, every request through http_proxy.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scoped_tmpfs.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_http_server.h"

namespace velnoria::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Files = std::vector<std::pair<std::string, std::string>>;  // path in the run folder, bytes
using Routes = std::vector<std::pair<std::string, Reply>>;

const std::string kProgram = VELNORIA_GET_PATH;
const std::string kThread = "http://forum.example/board/thread?id=7";

// Thumbnails and what their services answer.
std::string hq(const std::string& name) {
    return "http://www.hqcity.net/thumbs/" + name;
}
std::string hqImage(const std::string& name) {
    return "http://www.hqcity.net/hq/" + name;
}
const std::string kHavenThumb = "http://img105.imagehaven.net/img/thumbs/12_x.jpg";
const std::string kHavenPage = "http://img105.imagehaven.net/img.php?id=12_x.jpg";

std::string bamThumb(const std::string& id) {
    return "http://thumbs.imagebam.com/ab/cd/" + id + ".jpg";
}
// ImageBam: the page leads to the download address, whose header answer names the file.
Routes bam(const std::string& id, const std::string& name, const std::string& body) {
    Reply file = Reply::ok(body, "image/jpeg");
    file.headers.push_back({"Content-Disposition", "attachment; filename=\"" + name + "\""});
    return {{"http://www.imagebam.com/image/" + id,
             Reply::ok("<a href='http://www.imagebam.com/download/" + id + "'>Save</a>")},
            {"http://www.imagebam.com/download/" + id, file}};
}

Reply image(std::string body) {
    return Reply::ok(std::move(body), "image/jpeg");
}

struct Outcome {
    ChildResult result;
    std::vector<std::string> leftovers;  // temporary files that stayed behind
};

// The loopback server, and a temporary folder of the test's own for the program's scratch files.
class HostileServer : public ::testing::Test {
  protected:
    // Serves the thread page with the thumbnails and the routes, puts the files in folder, and
    // runs velnoria-get there with args and the thread's address.
    Outcome run(const fs::path& folder, const std::vector<std::string>& thumbs,
                const Routes& routes, std::vector<std::string> args, const Files& before = {},
                const std::function<void(ChildProcess&)>& during = {}) {
        std::string page = "<html><body>";
        for (const auto& thumb : thumbs) page += "<img src=\"" + thumb + "\">\n";
        server.route(kThread, Reply::ok(page + "</body></html>", "text/html"));
        for (const auto& [url, reply] : routes) server.route(url, reply);
        for (const auto& [path, bytes] : before) {
            fs::create_directories((folder / path).parent_path());
            writeFile(folder / path, bytes);
        }
        args.push_back(kThread);
        Outcome done;
        {
            // The program's temporary folder, of the test's own; the test's own files go elsewhere.
            const ScopedEnv tmpdir("TMPDIR", temporary.path().string());
            ChildProcess child(kProgram, args, folder);
            if (during) during(child);
            done.result = child.finish(60s);
        }
        for (const auto& entry : fs::recursive_directory_iterator(temporary.path())) {
            done.leftovers.push_back(entry.path().string());
        }
        // What the downloads and the save folder's check make beside the files.
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("velnoria-") || name.ends_with(".part")) {
                done.leftovers.push_back(entry.path().string());
            }
        }
        return done;
    }

    TestHttpServer server;
    ScopedProxy proxy{server};
    TempFolder temporary;
};

std::string threeTimes(const std::string& name, const std::string& reason) {
    const std::string line = "Downloading file " + name + "...FAILED (" + reason + ")\n";
    return line + "RESTART DOWNLOAD.\n" + line + "RESTART DOWNLOAD.\n" + line + "FAILURE LOGGED.\n";
}

TEST_F(HostileServer, NothingOfTheUsersIsLost) {
    Reply cut = image(std::string(1032, 'c'));
    cut.headers.push_back({"Content-Length", "4096"});
    cut.closeAfterBodyBytes = 1032;
    Routes planted;
    for (const auto& [id, name] :
         {std::pair{"s1", "settings.dat"}, {"s2", "failed.txt"}, {"s3", ".bashrc"}}) {
        const Routes routes = bam(id, name, "../outside\r\n30\r\n102400\r\n");
        planted.insert(planted.end(), routes.begin(), routes.end());
    }
    // A name of 300 bytes: cut to what the file system takes, with room for its number.
    const std::string longName(300, 'n');
    const std::string cutName(243, 'n');
    const struct {
        const char* what;
        std::vector<std::string> thumbs;
        Routes routes;
        std::vector<std::string> args;
        Files before;
        int exitCode;
        Files after;
        std::string logs = {};                 // a line the log shows
        std::vector<std::string> absent = {};  // what the run must not make
    } cases[] = {
        {"scratch files of the page scans",
         {kHavenThumb, "http://farm1.static.flickr.com/1/123_abc_s.jpg"},
         {{kHavenPage, Reply::ok("<img src='./images/12_x.jpg'>")},
          {"http://img105.imagehaven.net/images/12_x.jpg", image("haven")},
          {"http://www.flickr.com/photos//123/sizes/o/",
           Reply::ok("<a href=\"http://farm1.static.flickr.com/1/123_abc_o.jpg\">o</a>")},
          {"http://farm1.static.flickr.com/1/123_abc_o.jpg", image("flickr")}},
         {"--save-folder", "pics"},
         {{"index.htm", "my page"}, {"temp.txt", "my notes"}},
         0,
         {{"index.htm", "my page"},
          {"temp.txt", "my notes"},
          {"pics/12_x.jpg", "haven"},
          {"pics/123.jpg", "flickr"}}},
        {"names of the program's own files, and a hidden one",
         {bamThumb("s1"), bamThumb("s2"), bamThumb("s3")},
         planted,
         {"--save-folder", "."},
         {{"settings.dat", "pics\r\n 30 \r\n 102400 \r\n"}, {"failed.txt", "mine\r\n"}},
         0,
         {{"settings.dat", "pics\r\n 30 \r\n 102400 \r\n"},
          {"failed.txt", "mine\r\n"},
          {"_settings.dat", "../outside\r\n30\r\n102400\r\n"},
          {"_failed.txt", "../outside\r\n30\r\n102400\r\n"},
          {"_bashrc", "../outside\r\n30\r\n102400\r\n"}}},
        {"a failed attempt replaces no file and leaves nothing under a new name",
         {hq("keep.jpg"), hq("cut.jpg"), hq("new.jpg")},
         {{hqImage("keep.jpg"), Reply::withStatus(404, "Not Found")},
          {hqImage("cut.jpg"), cut},
          {hqImage("new.jpg"), Reply::withStatus(404, "Not Found")}},
         {"--save-folder", "pics"},
         {{"pics/keep.jpg", "good"}, {"pics/cut.jpg", "also good"}},
         1,
         {{"pics/keep.jpg", "good"}, {"pics/cut.jpg", "also good"}},
         threeTimes("new.jpg", "HTTP 404"),
         {"pics/new.jpg"}},
        {"two files of one name in one job",
         {hq("x.jpg"), "http://img2.hqcity.net/thumbs/x.jpg", hq("x.jpg")},
         {{hqImage("x.jpg"), image("first")}, {"http://img2.hqcity.net/hq/x.jpg", image("second")}},
         {"--save-folder", "pics"},
         {{"pics/x.jpg", "from an earlier run"}},
         0,
         {{"pics/x.jpg", "first"}, {"pics/x (2).jpg", "second"}},
         "Downloading file x (2).jpg...OK\n"},
        // Only a name this job saved is numbered: the second takes the name the first failed on.
        {"a file of the name of one that failed",
         {hq("y.jpg"), "http://img2.hqcity.net/thumbs/y.jpg"},
         {{hqImage("y.jpg"), Reply::withStatus(404, "Not Found")},
          {"http://img2.hqcity.net/hq/y.jpg", image("second")}},
         {"--save-folder", "pics"},
         {},
         1,
         {{"pics/y.jpg", "second"}, {"failed.txt", hqImage("y.jpg") + "\r\n"}},
         "Downloading file y.jpg...OK\n",
         {"pics/y (2).jpg"}},
        {"a name longer than the file system takes",
         {hq(longName + ".jpg"), "http://img2.hqcity.net/thumbs/" + longName + ".jpg"},
         {{hqImage(longName + ".jpg"), image("first")},
          {"http://img2.hqcity.net/hq/" + longName + ".jpg", image("second")}},
         {"--save-folder", "pics"},
         {},
         0,
         {{"pics/" + cutName + ".jpg", "first"}, {"pics/" + cutName + " (2).jpg", "second"}},
         "File name cut to what the save folder takes: " + cutName + " (2).jpg\nDownloading file " +
             cutName + " (2).jpg...OK\n"},
        {"what a rules file's rules find",
         {"http://rules.test/th/own.jpg", "http://rules.test/th/.bashrc",
          "http://rules.test/th/gone.jpg"},
         {{"http://rules.test/full/own.jpg", image("own")},
          {"http://rules.test/full/.bashrc", image("dot")},
          {"http://rules.test/full/gone.jpg", Reply::withStatus(404, "Not Found")}},
         {"--rules", "rules.toml", "--save-folder", "."},
         {{"settings.dat", "pics\r\n 30 \r\n 102400 \r\n"},
          {"rules.toml",
           "[[rule]]\nname = \"own\"\nmatch = '^http://rules\\.test/th/own\\.jpg'\n"
           "full = \"http://rules.test/full/own.jpg\"\nfile = \"settings.dat\"\n\n"
           "[[rule]]\nname = \"any\"\nmatch = '^http://rules\\.test/th/(.+)'\n"
           "full = \"http://rules.test/full/$1\"\n"}},
         1,
         {{"settings.dat", "pics\r\n 30 \r\n 102400 \r\n"},
          {"_settings.dat", "own"},
          {"_bashrc", "dot"},
          {"failed.txt", "http://rules.test/full/gone.jpg\r\n"}},
         threeTimes("gone.jpg", "HTTP 404")},
        {"a dry run reads service pages and writes nothing",
         {kHavenThumb, "http://img105.imagehaven.net/img/thumbs/13_y.jpg"},
         {{kHavenPage, Reply::ok("<img src='./images/12_x.jpg'>")},
          {"http://img105.imagehaven.net/img.php?id=13_y.jpg", Reply::withStatus(500, "busy")}},
         {"--print-targets", "--save-folder", "pics"},
         {{"index.htm", "my page"}},
         0,
         {{"index.htm", "my page"}},
         kHavenThumb + " -> http://img105.imagehaven.net/images/12_x.jpg 12_x.jpg\n" +
             "http://img105.imagehaven.net/img/thumbs/13_y.jpg -> (declined: Service page cannot "
             "be read: http://img105.imagehaven.net/img.php?id=13_y.jpg (HTTP 500))\n",
         {"pics", "settings.dat", "failed.txt", "images"}}};
    // One at a time, and several at once: the same files.
    for (const char* const atOnce : {"1", "4"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", --parallel " + atOnce);
            TempFolder folder;
            std::vector<std::string> args = c.args;
            args.insert(args.end(), {"--parallel", atOnce});
            const Outcome done = run(folder.path(), c.thumbs, c.routes, args, c.before);
            EXPECT_EQ(done.result.exitCode, c.exitCode) << done.result.out << done.result.err;
            for (const auto& [path, bytes] : c.after) {
                EXPECT_EQ(readFile(folder / path), bytes) << path;
            }
            EXPECT_NE(done.result.out.find(c.logs), std::string::npos) << done.result.out;
            for (const auto& path : c.absent) EXPECT_FALSE(fs::exists(folder / path)) << path;
            EXPECT_EQ(done.leftovers, std::vector<std::string>{});
        }
    }
}

TEST_F(HostileServer, EveryFailureIsSaidWithItsReason) {
    const std::string venueThumb = "http://img1.imagevenue.com/loc77/th_9_x.jpg";
    Reply twoLengths = image(std::string(1032, 'l'));
    twoLengths.headers = {{"Content-Length", "5"}, {"Content-Length", "1032"}};
    twoLengths.closeConnection = true;
    Reply reset = image(std::string(20000, 'r'));
    reset.resetAfterBodyBytes = 5000;
    Reply cut = image(std::string(1032, 'c'));
    cut.headers.push_back({"Content-Length", "4096"});
    cut.closeAfterBodyBytes = 1032;
    Reply silent;
    silent.neverAnswer = true;
    const std::string unreadable = "Service page cannot be read: " + kHavenPage;
    struct Case {
        const char* what;
        std::string thumb;
        Routes routes;
        std::string log;     // after "Starting download process..."
        std::string failed;  // "failed.txt"
    };
    const Case cases[] = {
        // An ImageVenue page whose alt is empty leads to the service's home page.
        {"a service's home page",
         venueThumb,
         {{"http://img1.imagevenue.com/img.php?loc=loc77&image=9_x.jpg",
           Reply::ok("<img id=\"thepic\" src=\"x\" alt=\"\">")},
          {"http://img1.imagevenue.com/", Reply::ok("<html>Welcome</html>", "text/html")}},
         threeTimes("img1.imagevenue.com", "not an image: HTML page"),
         "http://img1.imagevenue.com/"},
        {"an error page that says 200",
         hq("oops.jpg"),
         {{hqImage("oops.jpg"), image("\r\n <!DOCTYPE html><title>Error</title>")}},
         threeTimes("oops.jpg", "not an image: HTML page"),
         hqImage("oops.jpg")},
        {"a service page answered with an error",
         kHavenThumb,
         {{kHavenPage, Reply::withStatus(500, "busy")}},
         unreadable + " (HTTP 500)\n",
         kHavenThumb},
        {"a service page never answered",
         kHavenThumb,
         {{kHavenPage, silent}},
         unreadable + " (timed out)\n",
         kHavenThumb},
        {"a service page read without the marker",
         kHavenThumb,
         {{kHavenPage, Reply::ok("none")}},
         "",
         ""},
        // A three-letter host puts TurboImageHost's cut on the quote before the address.
        {"no address at all",
         "http://s1.turboimagehost.com/t/9.jpg",
         {{"http://www.turboimagehost.com/p/9.jpg.html",
           Reply::ok("<img src=\"http://abc.turboimagehost.com/sp/9.jpg\">")}},
         "Downloading file ...FAILED (not a web address)\nFAILURE LOGGED.\n",
         "http://s1.turboimagehost.com/t/9.jpg"},
        {"two lengths",
         hq("two.jpg"),
         {{hqImage("two.jpg"), twoLengths}},
         threeTimes("two.jpg", "invalid answer: Content-Length 5 and 1032"),
         hqImage("two.jpg")},
        {"a reset",
         hq("reset.jpg"),
         {{hqImage("reset.jpg"), reset}},
         threeTimes("reset.jpg", "connection reset"),
         hqImage("reset.jpg")},
        {"a body cut short",
         hq("cut.jpg"),
         {{hqImage("cut.jpg"), cut}},
         threeTimes("cut.jpg", "1032 of 4096 bytes"),
         hqImage("cut.jpg")},
        {"a 404",
         hq("gone.jpg"),
         {{hqImage("gone.jpg"), Reply::withStatus(404)}},
         threeTimes("gone.jpg", "HTTP 404"),
         hqImage("gone.jpg")},
        // The lowest error status, with a length: read like a good answer, yet failed.
        {"a 400 with a length",
         hq("bad.jpg"),
         {{hqImage("bad.jpg"), Reply::withStatus(400, "Bad Request")}},
         threeTimes("bad.jpg", "HTTP 400"),
         hqImage("bad.jpg")},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    // A length that is no plain number frames no body, one at a time or at once: libcurl would
    // read the number at its start and keep what comes up to it as the whole file.
    for (const char* const length :
         {"6x", "100abc", "+1032", "1032 1032", "1032,1032", "0x10", "1e3"}) {
        Reply odd = image(std::string(1032, 'o'));
        odd.headers = {{"Content-Length", length}};
        odd.closeConnection = true;
        all.push_back({length,
                       hq("odd.jpg"),
                       {{hqImage("odd.jpg"), odd}},
                       threeTimes("odd.jpg", "invalid answer: Content-Length is not a number"),
                       hqImage("odd.jpg")});
    }
    // Several at once say the same as one at a time.
    for (const char* const atOnce : {"1", "4"}) {
        for (const auto& c : all) {
            SCOPED_TRACE(std::string(c.what) + ", --parallel " + atOnce);
            TempFolder folder;
            const Outcome done =
                run(folder.path(), {c.thumb}, c.routes, {"--timeout", "1", "--parallel", atOnce});
            const bool failed = !c.failed.empty();
            EXPECT_EQ(done.result.exitCode, failed ? 1 : 0) << done.result.err;
            EXPECT_EQ(done.result.out, "Starting download process...\n" + c.log +
                                           "Task finished !\nNo file downloaded.\n");
            EXPECT_EQ(readFile(folder / "failed.txt"), failed ? c.failed + "\r\n" : "");
            EXPECT_EQ(done.leftovers, std::vector<std::string>{});
        }
    }
}

TEST_F(HostileServer, NothingHangsOrRunsAway) {
    // Pages that took gigabytes: read, or refused, within a few hundred MiB.
    std::string rebuilt = "<div>";
    for (int i = 0; i < 1900; ++i) rebuilt += "<b x=" + std::to_string(i) + ">";
    rebuilt += "</div>";
    const auto repeat = [](const std::string& piece, int times) {
        std::string out;
        for (int i = 0; i < times; ++i) out += piece;
        return out;
    };
    const struct {
        const char* what;
        std::string page;
        int exitCode;
        std::string err;
    } pages[] = {
        {"stray end tags below a deep nesting", repeat("<div>", 1990) + repeat("</x>", 250000), 0,
         ""},
        {"titles in objects", repeat("<object><title></title>", 100000), 2,
         "the page nests its elements more than 2000 levels deep"},
        {"formatting elements rebuilt in every block", rebuilt + repeat("<div>x</div>", 2000), 2,
         "the page needs more than 512 MiB to read"},
    };
    for (const auto& c : pages) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        writeFile(folder / "page.html", c.page);
        const ChildResult done =
            runChild(kProgram, {"--save-folder", "pics", "page.html"}, folder.path());
        EXPECT_EQ(done.exitCode, c.exitCode);
        EXPECT_EQ(done.err,
                  c.err.empty() ? "" : "velnoria-get: cannot load page.html: " + c.err + "\n");
#if !defined(__SANITIZE_ADDRESS__)
        EXPECT_LT(done.peakMemoryKb, 700 * 1024);
#endif
    }

    // Answers that kept a core busy or a request alive: each ends within a bound.
    Reply huge = image(std::string(1032, 'h'));
    huge.headers.push_back({"Content-Length", "2147483647"});
    huge.closeAfterBodyBytes = 1032;
    Reply drip = image(std::string(40, 'd'));
    drip.drip = Drip{1, 1000ms};
    Reply dripPage = Reply::ok(std::string(40, 'p'));
    dripPage.drip = Drip{1, 1000ms};
    const struct {
        const char* what;
        std::string thumb;
        Routes routes;
        std::string log;
        std::chrono::seconds bound;
    } answers[] = {
        {"a huge length, a short body, pieces of one byte",
         hq("huge.jpg"),
         {{hqImage("huge.jpg"), huge}},
         threeTimes("huge.jpg", "1032 of 2147483647 bytes"),
         10s},
        {"an image dripping a byte a second",
         hq("drip.jpg"),
         {{hqImage("drip.jpg"), drip}},
         threeTimes("drip.jpg", "timed out"),
         15s},
        {"a service page dripping a byte a second",
         kHavenThumb,
         {{kHavenPage, dripPage}},
         "Service page cannot be read: " + kHavenPage + " (timed out)\n",
         8s},
    };
    for (const auto& c : answers) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const Outcome done =
            run(folder.path(), {c.thumb}, c.routes, {"--timeout", "2", "--piece-size", "1"});
        EXPECT_EQ(done.result.out, "Starting download process...\n" + c.log +
                                       "Task finished !\nNo file downloaded.\n");
        EXPECT_LT(done.result.took, c.bound);
    }
}

TEST_F(HostileServer, OneCtrlCEndsTheWaitInHand) {
    Reply silent;
    silent.neverAnswer = true;
    Reply drip = image(std::string(100000, 'd'));
    drip.drip = Drip{10, 1000ms};
    Reply dripWithoutLength = drip;  // taken whole from its one answer
    dripWithoutLength.autoContentLength = false;
    dripWithoutLength.closeConnection = true;
    const struct {
        const char* what;
        std::vector<std::string> thumbs;
        Routes routes;
        std::size_t requests;  // Ctrl+C once the server saw this many
        std::string log;
    } cases[] = {
        {"a silent server",
         {hq("silent.jpg")},
         {{hqImage("silent.jpg"), silent}},
         2,
         "Downloading file silent.jpg...\n"},
        {"a dripping body",
         {hq("drip.jpg")},
         {{hqImage("drip.jpg"), drip}},
         2,
         "Downloading file drip.jpg...\n"},
        {"a silent service page", {kHavenThumb}, {{kHavenPage, silent}}, 2, ""},
        {"a dripping body without a length",
         {hq("whole.jpg")},
         {{hqImage("whole.jpg"), dripWithoutLength}},
         2,
         "Downloading file whole.jpg...\nWarning! Unknown file size, trying alternative method for "
         "download...\n"},
        {"after a logged failure",
         {hq("gone.jpg"), hq("silent.jpg")},
         {{hqImage("gone.jpg"), Reply::withStatus(404)}, {hqImage("silent.jpg"), silent}},
         5,
         threeTimes("gone.jpg", "HTTP 404") + "Downloading file silent.jpg...\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        server.clearRequests();
        std::chrono::steady_clock::time_point stoppedAt;
        const Outcome done =
            run(folder.path(), c.thumbs, c.routes, {}, {}, [&](ChildProcess& child) {
                ASSERT_TRUE(server.waitForRequests(c.requests, 20s));
                std::this_thread::sleep_for(300ms);
                stoppedAt = std::chrono::steady_clock::now();
                child.signal(SIGINT);
            });
        EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, 3s);
        EXPECT_EQ(done.result.exitCode, 130);
        EXPECT_EQ(done.result.out, "Starting download process...\n" + c.log +
                                       "Task finished !\nNo file downloaded.\n");
        EXPECT_EQ(done.leftovers, std::vector<std::string>{});
    }
}

// Wherever the job waits or works, one Ctrl+C ends it within a second: a retry on a slow image or
// a slow service page, a rule's search of a hard page, a next page being read or being parsed.
// Nothing is logged as failed for what the stop cut short.
TEST_F(HostileServer, CtrlCIsHonouredAtOnceWhereverTheJobIs) {
    Reply silent;
    silent.neverAnswer = true;
    // Random a and b drive the rule's pattern below to its slowest: seconds of processor time.
    std::string hard(4 << 20, 'a');
    std::mt19937 random(3);
    for (char& c : hard) c = random() % 2 ? 'a' : 'b';
    std::string big = "<html><body>";
    while (big.size() < (24u << 20))
        big += "<div class=\"post\"><p>text <b>of</b> a post</p></div>\n";
    const std::string next = "http://forum.example/board/thread?id=7&page=2";
    const std::string withNext =
        "<html><head><link rel=\"next\" href=\"" + next + "\"></head><body></body></html>";
    const struct {
        const char* what;
        Routes routes;
        Files before;
        std::vector<std::string> args;  // PAGE last, when there is one
        std::size_t requests;           // Ctrl+C once the server saw this many, and a moment
    } cases[] = {
        {"a retry on a slow image",
         {{hqImage("slow.jpg"), silent}},
         {{"failed.txt", hqImage("slow.jpg") + "\r\n"}},
         {"--retry-failed"},
         1},
        {"a retry on a slow service page",
         {{kHavenPage, silent}},
         {{"failed.txt", kHavenThumb + "\r\n"}},
         {"--retry-failed"},
         1},
        {"a rule's search of a hard page",
         {{kThread, Reply::ok("<img src=\"http://view.test/t/1.jpg\">", "text/html")},
          {"http://view.test/v/1", Reply::ok(hard)}},
         {{"rules.toml",
           "[[rule]]\nname = 'hard'\nmatch = '^http://view\\.test/t/(\\d+)'\n"
           "page = 'http://view.test/v/$1'\nfind = 'a[ab]{1000}c(x)'\n"}},
         {"--rules", "rules.toml", kThread},
         2},
        {"a next page being read",
         {{kThread, Reply::ok(withNext, "text/html")}, {next, silent}},
         {},
         {"--all-pages", kThread},
         2},
        {"a next page being parsed",
         {{kThread, Reply::ok(withNext, "text/html")}, {next, Reply::ok(big, "text/html")}},
         {},
         {"--all-pages", kThread},
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        server.clearRequests();
        for (const auto& [url, reply] : c.routes) server.route(url, reply);
        for (const auto& [path, bytes] : c.before) writeFile(folder / path, bytes);
        const ScopedEnv tmpdir("TMPDIR", temporary.path().string());
        ChildProcess child(kProgram, c.args, folder.path());
        ASSERT_TRUE(server.waitForRequests(c.requests, 20s));
        std::this_thread::sleep_for(600ms);
        const auto stoppedAt = std::chrono::steady_clock::now();
        child.signal(SIGINT);
        const ChildResult run = child.finish(30s);
        EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, 1s);
        EXPECT_EQ(run.exitCode, 130) << run.err;
        EXPECT_EQ(run.out.find("FAILED"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("cannot be read"), std::string::npos) << run.out;
        // What was listed stays listed; nothing new is.
        const std::string listed = c.before.empty() || c.before.front().first != "failed.txt"
                                       ? std::string()
                                       : c.before.front().second;
        EXPECT_EQ(readFile(folder / "failed.txt"), listed);
        EXPECT_TRUE(fs::is_empty(temporary.path()));
    }
}

// Radikal images of their own host each, two hosts to a pair of downloads at once: the full-size
// address of image i, and its thumbnail.
std::string radikal(int i) {
    return "http://s" + std::to_string((i - 1) % 8 + 1) + ".radikal.ru/i/end" + std::to_string(i) +
           ".jpg";
}
std::string radikalThumb(int i) {
    std::string thumb = radikal(i);
    return thumb.replace(thumb.size() - 4, 4, "t.jpg");
}

// However the program is ended while downloads run (a second Ctrl+C, SIGTERM, SIGHUP, the reader
// of its output gone), no temporary file stays, and the exit status says how it ended.
TEST_F(HostileServer, NoTemporaryFileSurvivesAnEnd) {
    const struct {
        const char* what;
        int atOnce;
        std::vector<int> signals;  // sent one right after the other, all downloads under way
        int exitCode;
        // The signals wait while the program is held (SIGSTOP): the second meets the first's
        // handler before the job could stop, and ends the program on the spot.
        bool together = false;
        bool throughHead = false;  // the output read by `head -3`
    } cases[] = {
        {"a second Ctrl+C, sixteen at once", 16, {SIGINT, SIGINT}, 130},
        {"Ctrl+C and SIGTERM together, sixteen at once", 16, {SIGINT, SIGTERM}, 143, true},
        {"SIGTERM", 8, {SIGTERM}, 143},
        {"SIGHUP", 8, {SIGHUP}, 129},
        {"SIGHUP and Ctrl+C together", 8, {SIGHUP, SIGINT}, 130, true},
        {"the output read by head -3", 8, {}, 141, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        server.clearRequests();
        // Images that take seconds each; with head, the first four come at once, so that head
        // has its lines and goes while the others still run.
        std::string page = "<html><body>";
        for (int i = 1; i <= 24; ++i) page += "<img src=\"" + radikalThumb(i) + "\">\n";
        server.route(kThread, Reply::ok(page + "</body></html>", "text/html"));
        server.setFallback([&](const Request& request) {
            bool quick = false;
            for (int i = 1; i <= 4; ++i)
                quick = quick || (c.throughHead && request.url == radikal(i));
            Reply reply = Reply::generated(quick ? 1000 : c.throughHead ? 600000 : 2000000);
            reply.drip = Drip{2000, 10ms};
            return reply;
        });
        const std::vector<std::string> args = {"--save-folder", "pics", "--parallel",
                                               std::to_string(c.atOnce), kThread};
        const auto parts = [&] {
            std::size_t count = 0;
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(folder / "pics", ec)) {
                count += entry.path().extension() == ".part" ? 1 : 0;
            }
            return count;
        };
        const ScopedEnv tmpdir("TMPDIR", temporary.path().string());
        ChildResult result;
        if (c.throughHead) {
            std::vector<std::string> shell = {
                "-c", "\"$0\" \"$@\" | head -3 >/dev/null; exit \"${PIPESTATUS[0]}\"", kProgram};
            shell.insert(shell.end(), args.begin(), args.end());
            result = runChild("/bin/bash", shell, folder.path(), 30s);
        } else {
            ChildProcess child(kProgram, args, folder.path());
            const auto deadline = std::chrono::steady_clock::now() + 20s;
            while (parts() < static_cast<std::size_t>(c.atOnce) &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(20ms);
            }
            ASSERT_EQ(parts(), static_cast<std::size_t>(c.atOnce));
            const auto start = std::chrono::steady_clock::now();
            if (c.together) child.signal(SIGSTOP);
            for (const int number : c.signals) child.signal(number);
            if (c.together) child.signal(SIGCONT);
            result = child.finish(20s);
            EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        }
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(parts(), 0u) << "temporary files left";
        EXPECT_TRUE(fs::is_empty(temporary.path()));
        // Nothing was asked for after the end: not every image.
        EXPECT_LT(server.requestCount(), 25u);
    }
}

TEST_F(HostileServer, AFolderThatCannotBeUsedIsSaidAtOnce) {
    ScopedTmpfs full("4k");
    ScopedTmpfs readOnly("4k", /*readOnly=*/true);
    if (full.mounted()) writeFile(full.path() / "filler", std::string(4096, 'f'));
    const struct {
        const char* what;
        std::vector<std::string> args;
        Files before;
        std::string err;
        bool needsMount = false;
    } cases[] = {
        {"missing, as settings.dat names it",
         {},
         {{"settings.dat", "missing\r\n 30 \r\n 102400 \r\n"}},
         "Error: save path does not exist ! \n"
         "velnoria-get: Cannot save files in missing: No such file or directory\n"},
        {"a file",
         {"--save-folder", "afile"},
         {{"afile", "x"}},
         "velnoria-get: Cannot save files in afile: Not a directory\n"},
        {"read-only",
         {"--save-folder", readOnly.path().string()},
         {},
         "velnoria-get: Cannot save files in " + readOnly.path().string() +
             ": Read-only file system\n",
         true},
        {"full",
         {"--save-folder", full.path().string()},
         {},
         "velnoria-get: Cannot save files in " + full.path().string() +
             ": No space left on device\n",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsMount && !(full.mounted() && readOnly.mounted())) continue;
        TempFolder folder;
        server.clearRequests();
        const Outcome done =
            run(folder.path(), {hq("a.jpg")}, {{hqImage("a.jpg"), image("a")}}, c.args, c.before);
        EXPECT_EQ(done.result.exitCode, 2);
        EXPECT_EQ(done.result.err, c.err);
        EXPECT_EQ(done.result.out, "");
        EXPECT_EQ(server.requestCount(), 1u);  // the page, and no image
    }

    // A folder given as the page, on a first run: nothing is made for a run that cannot go on.
    TempFolder folder;
    fs::create_directory(folder / "thread");
    const ChildResult done =
        runChild(kProgram, {"--save-folder", "saved", "thread"}, folder.path());
    EXPECT_EQ(done.exitCode, 2);
    EXPECT_EQ(done.err, "velnoria-get: cannot load thread: not a file\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

TEST_F(HostileServer, NoControlCharacterFromTheNetworkReachesTheTerminal) {
    Routes routes;
    for (const auto& [id, name] : {std::pair{"c1",
                                             "csi\xC2\x9B"
                                             "2J.jpg"},
                                   {"c2", "esc\x1B]0;x.jpg"},
                                   {"c3", "latin1-\xE9.jpg"},
                                   {"c4", "photo_\xE2\x80\xAEgpj.exe"}}) {
        const Routes served = bam(id, name, "bytes");
        routes.insert(routes.end(), served.begin(), served.end());
    }
    TempFolder folder;
    const Outcome done =
        run(folder.path(), {bamThumb("c1"), bamThumb("c2"), bamThumb("c3"), bamThumb("c4")}, routes,
            {"--save-folder", "pics"});
    // A name that turns the direction of the text is saved as it is, and shown escaped.
    EXPECT_EQ(done.result.out,
              "Starting download process...\n" + threeTimes("", "no usable file name") +
                  threeTimes("", "no usable file name") + threeTimes("", "no usable file name") +
                  "Downloading file photo_\\u202Egpj.exe...OK\n"
                  "Task finished !\n 1 file(s) downloaded.\n");
    EXPECT_EQ(namesIn(folder / "pics"), std::vector<std::string>{"photo_\xE2\x80\xAEgpj.exe"});
}

}  // namespace
}  // namespace velnoria::testing
