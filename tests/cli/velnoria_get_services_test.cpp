// One thread with a thumbnail of every service, run through velnoria-get as a separate process:
// every host, intermediate page and header request answered by the loopback server through
// http_proxy.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_http_server.h"

namespace velnoria {
namespace {

namespace fs = std::filesystem;
using testing::ChildResult;
using testing::generatedBytes;
using testing::namesIn;
using testing::readFile;
using testing::Reply;
using testing::runChild;
using testing::TempFolder;

const std::string kProgram = VELNORIA_GET_PATH;
// The Flickr rule takes the photos' owner from the address of the thread.
const std::string kThread = "http://www.flickr.com/photos/someone/board/thread?id=7";

// A service's full-size file: where it is asked for, the name it is saved under, what is served.
struct Served {
    std::string url;
    std::string name;
    Reply reply;
};

Reply image(std::uint64_t size, std::uint32_t seed) {
    Reply reply = Reply::generated(size, seed);
    reply.headers.push_back({"Content-Type", "image/jpeg"});
    return reply;
}

std::string bodyOf(const Reply& reply) {
    return reply.generatedSize ? generatedBytes(*reply.generatedSize, reply.generatedSeed)
                               : reply.body;
}

// An intermediate page: the interesting line among ordinary markup with commas and quotes.
Reply servicePage(const std::string& line) {
    return Reply::ok(
        "<!DOCTYPE html>\n<html><head><title>Photo, \"large\"</title></head>\n"
        "<body><div class=\"nav\">home, top, next</div>\n" +
            line + "\n<p>\"footer\", end</p></body></html>\n",
        "text/html");
}

const std::string kBamDownload = "http://www.imagebam.com/download/ab12cd?a=1&b=2";
const std::string kVenueImage = "http://img5.imagevenue.com/aAfkj01-12/loc77/12345_x.jpg";
const std::string kRadikalImage = "http://s10.radikal.ru/i1/rad10.jpg";
const std::string kFrillrImage = "http://www.frillr.com/images/u/frillr15.jpg";
const std::string kLateImage = "http://www.hqcity.net/hq/late.jpg";

// The files the thread leads to, in walk order. Radikal's and Frillr's are refused.
std::vector<Served> servedFiles() {
    Reply bam = image(5200, 1);
    bam.headers.push_back({"Content-Disposition", "attachment; filename=\"bam one.jpg\""});
    Reply unannounced = Reply::ok(generatedBytes(3100, 7), "image/jpeg");
    unannounced.autoContentLength = false;  // ends with the connection
    unannounced.closeConnection = true;
    return {
        {kBamDownload, "bam one.jpg", bam},
        {kVenueImage, "12345_x.jpg", image(2500, 2)},
        {"http://img105.imagehaven.net/images/haven3.jpg", "haven3.jpg", image(1000, 3)},
        {"http://img5.imageshack.us/img5/12/upper.jpg", "upper.jpg", image(500, 4)},
        {"http://img5.imageshack.us/img5/12/shack5.jpg", "shack5.jpg", image(999, 5)},
        {"http://lh3.googleusercontent.com/-abc/d/pic6.jpg", "pic6.jpg", image(4096, 6)},
        {"http://media.onsugar.com/files/2026/sugar7.jpg", "sugar7.jpg", unannounced},
        {"http://www.hqcity.net/hq/city8.jpg", "city8.jpg", image(1, 8)},
        {"http://img.skins.be/9/skin9.jpg", "skin9.jpg", image(0, 9)},
        {kRadikalImage, "rad10.jpg", Reply::withStatus(404, "<html>Not Found</html>")},
        {"http://s1d4.turboimagehost.com/sp/ab/2_3.jpg", "2_3.jpg", image(1500, 11)},
        {"http://farm1.static.flickr.com/1/123_abc_o.jpg", "123.jpg", image(6000, 12)},
        {"http://users.photofile.ru/photo/ann/13/file13.jpg", "file13.jpg", image(1300, 13)},
        {"http://images.sharenxs.com/wz/caba/y/nxs14.jpg", "nxs14.jpg", image(1400, 14)},
        {kFrillrImage, "frillr15.jpg", Reply::withStatus(500, "<html>busy</html>")},
        {"http://thumb16.webshots.com/s/shot16_fs.jpg", "shot16_th.jpg", image(1600, 16)},
        {"http://img-fotki.yandex.ru/get/17/ann/fotki17-orig.jpg", "fotki17.jpg.jpg",
         image(1700, 17)},
        {"http://photoshare.ru/original/photoshare.ru-101.jpg", "101.jpg", image(1801, 18)},
        {"http://photoshare.ru/original/photoshare.ru-102.jpg", "102.jpg", image(1802, 19)},
    };
}

std::string threadPage() {
    const std::vector<std::string> thumbnails = {
        "http://thumbs.imagebam.com/ab/cd/ab12cd.jpg",
        "http://img5.imagevenue.com/loc77/th_12345_x.jpg",
        "http://img105.imagehaven.net/img/thumbs/haven3.jpg",
        // A browser reports the host in lower case; a key in other letter case elsewhere in the
        // address does not match.
        "http://IMG5.IMAGESHACK.US/img5/12/upper.th.jpg",
        "http://cdn.example/IMAGESHACK.US/img5/12/cased.th.jpg",
        "http://img5.imageshack.us/img5/12/decoy.th.jpg#############",  // slot 4 comes first
        "http://img5.imageshack.us/img5/12/shack5.th.jpg",
        "http://lh3.googleusercontent.com/-abc/s128/pic6.jpg",
        "/smilies/smile.gif",  // of no service
        "http://media.onsugar.com/files/2026/larger.sugar7.jpg",
        "http://www.hqcity.net/thumbs/city8.jpg",
        "http://img5.imagevenue.com/loc77/th_12345_x.jpg",  // again: fetched once
        "http://thumb.skins.be/9/skin9.jpg", "http://s10.radikal.ru/i1/rad10t.jpg",
        "http://s1.turboimagehost.com/t/1_2_3.jpg",
        "http://farm1.static.flickr.com/1/123_abc_s.jpg",
        "http://users.photofile.ru/photo/ann/13/small/file13.jpg?cid=5",
        "http://sharenxs.com/thumbnails/x/caba/y/ab14-nxs14.jpg",
        "http://www.frillr.com/thumbnails/u/frillr15.jpg",
        "http://thumb16.webshots.com/s/shot16_th.jpg",
        "http://img-fotki.yandex.ru/get/17/ann/fotki17-S.jpg", "http://photoshare.ru/th/1.jpg",
        "http://www.hqcity.net/thumbs/late.jpg",  // after Photoshare: never reached
    };
    std::string html =
        "<!DOCTYPE html><html><head><title>Thread</title></head><body>\n"
        "<a href=\"http://www.flickr.com/photos/someone/board/thread?id=7\">top</a>\n";
    for (const auto& src : thumbnails) html += "<div class=post><img src=\"" + src + "\"></div>\n";
    // The links the Photoshare rule walks: adjacent equal ones count once.
    html +=
        "<a href=\"http://photoshare.ru/photo101.html\">1</a>"
        "<a href=\"http://photoshare.ru/photo101.html\">1 again</a>"
        "<a href=\"http://photoshare.ru/album/5\">album</a>"
        "<a href=\"/photo102.html\">not the service</a>"
        "<a href=\"http://photoshare.ru/photo102.html\">2</a>\n"
        "</body></html>\n";
    return html;
}

std::vector<std::pair<std::string, Reply>> intermediatePages() {
    return {
        {"http://www.imagebam.com/image/ab12cd",
         servicePage("<a class=\"btn\" href='http://www.imagebam.com/download/"
                     "ab12cd?a=1&amp;b=2' target=\"_blank\">Save</a>")},
        {"http://img5.imagevenue.com/img.php?loc=loc77&image=12345_x.jpg",
         servicePage("<img id=\"thepic\" SRC=\"aAfkj01-12/loc77/12345_x.jpg\" "
                     "ALT=\"aAfkj01-12/loc77/12345_x.jpg\" width=\"800\">")},
        {"http://img105.imagehaven.net/img.php?id=haven3.jpg",
         servicePage("<img src='./images/haven3.jpg' id=\"image\">")},
        {"http://www.turboimagehost.com/p/1/2_3.jpg.html",
         servicePage("<a href=\"http://www.turboimagehost.com\"><img "
                     "src=\"http://s1d4.turboimagehost.com/sp/ab/2_3.jpg\" alt=\"x\"></a>")},
        {"http://www.flickr.com/photos/someone/123/sizes/o/",
         servicePage("<p>Download: <a href=\"http://farm1.static.flickr.com/1/"
                     "123_abc_o.jpg\">original</a></p>")},
    };
}

TEST(VelnoriaGetServices, EveryServiceOfOneThread) {
    testing::TestHttpServer server;
    testing::ScopedProxy proxy(server);
    TempFolder folder;
    const std::vector<Served> files = servedFiles();
    for (const auto& file : files) server.route(file.url, file.reply);
    for (const auto& [url, reply] : intermediatePages()) server.route(url, reply);
    server.route(kThread, Reply::ok(threadPage(), "text/html"));
    server.route(kLateImage, image(10, 20));

    const ChildResult run = runChild(
        kProgram, {"--save-folder", "saved", "--piece-size", "1000", "--timeout", "10", kThread},
        folder.path());
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.err, "");  // the default folder is of no concern to this run

    std::string expectedOut = "Starting download process...\n";
    std::vector<std::string> expectedNames;
    int finished = 0;
    for (const auto& file : files) {
        const bool refused = file.reply.status >= 400;
        const std::string line = "Downloading file " + file.name + "...";
        if (refused) {
            const std::string failed = "FAILED (HTTP " + std::to_string(file.reply.status) + ")\n";
            expectedOut += line + failed + "RESTART DOWNLOAD.\n" + line + failed +
                           "RESTART DOWNLOAD.\n" + line + failed + "FAILURE LOGGED.\n";
        } else if (!file.reply.autoContentLength) {
            expectedOut +=
                line +
                "\nWarning! Unknown file size, trying alternative method for download...OK\n";
        } else {
            expectedOut += line + "OK\n";
        }
        // A refused file leaves nothing under its name, not the error page it was answered with.
        if (refused) {
            EXPECT_FALSE(fs::exists(folder / "saved" / file.name)) << file.name;
        } else {
            expectedNames.push_back(file.name);
            EXPECT_EQ(readFile(folder / "saved" / file.name), bodyOf(file.reply)) << file.name;
            ++finished;
        }
        // One request a file, a length or none (the header request of ImageBam's aside); three
        // for a refused one.
        EXPECT_EQ(server.requestsFor(file.url).size(),
                  refused ? 3u : 1u + (file.url == kBamDownload))
            << file.url;
    }
    expectedOut += "Task finished !\n " + std::to_string(finished) + " file(s) downloaded.\n";
    EXPECT_EQ(run.out, expectedOut);

    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(namesIn(folder / "saved"), expectedNames);
    EXPECT_EQ(readFile(folder / "failed.txt"), kRadikalImage + "\r\n" + kFrillrImage + "\r\n");
    // No scratch file stays behind: only what the run is meant to leave.
    EXPECT_EQ(namesIn(folder.path()),
              (std::vector<std::string>{"failed.txt", "saved", "settings.dat"}));

    // The file name came from the answer to a header request made before the download.
    const auto bam = server.requestsFor(kBamDownload);
    ASSERT_EQ(bam.size(), 2u);
    EXPECT_EQ(bam[0].method, "HEAD");
    EXPECT_EQ(bam[1].method, "GET");
    // The repeated ImageVenue thumbnail cost a second page but no second download.
    EXPECT_EQ(
        server.requestsFor("http://img5.imagevenue.com/img.php?loc=loc77&image=12345_x.jpg").size(),
        2u);
    // Nothing else was asked for: not the decoys, not what follows the Photoshare walk.
    std::set<std::string> known = {kThread};
    for (const auto& file : files) known.insert(file.url);
    for (const auto& page : intermediatePages()) known.insert(page.first);
    int heads = 0;
    for (const auto& request : server.requests()) {
        EXPECT_EQ(known.count(request.url), 1u) << request.url;
        if (request.method == "HEAD") ++heads;
    }
    EXPECT_EQ(heads, 1);
    EXPECT_TRUE(server.requestsFor(kLateImage).empty());
    // Retries of the refused files asked caches to stand aside.
    const auto radikal = server.requestsFor(kRadikalImage);
    EXPECT_EQ(radikal.at(0).header("Cache-Control"), "");
    EXPECT_EQ(radikal.at(1).header("Cache-Control"), "no-cache");
    EXPECT_EQ(radikal.at(2).header("Pragma"), "no-cache");
}

}  // namespace
}  // namespace velnoria
