// The rules that read a service's page or the page's links, against look-alike pages served on
// loopback through http_proxy.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/log_texts.h"
#include "tests/support/network_bench.h"

namespace velnoria {
namespace {

using testing::generatedBytes;
using testing::NetworkBench;
using testing::readFile;
using testing::Reply;

std::string page(const std::string& middle) {
    // The marker among other markup on long lines, with commas and quotes around it.
    return "<!DOCTYPE html>\n<html><head><title>Image, \"view\"</title>\n<script>var a = [1, 2, "
           "3];</script></head>\n<body class=\"x\">" +
           std::string(5000, ' ') + "<div id=\"nav\">one, two, three</div>\n" + middle +
           "\n<div>\"footer\", done</div></body></html>\n";
}

void expectNoScratchFiles(const NetworkBench& net) {
    for (const auto& name : net.bench.workFolderFiles()) {
        EXPECT_TRUE(name == "images" || name == "failed.txt") << "left behind: " << name;
    }
    EXPECT_EQ(net.bench.scratchFiles(), std::vector<std::string>{});
}

// ImageBam.

constexpr const char* kBamThumb = "http://thumbs.imagebam.com/ab/cd/ab12cd.jpg";
constexpr const char* kBamPage = "http://www.imagebam.com/image/ab12cd";
constexpr const char* kBamDownload = "http://www.imagebam.com/download/ab12cd?a=1&b=2";

Reply withDisposition(Reply reply, const std::string& value) {
    reply.headers.push_back({"Content-Disposition", value});
    return reply;
}

TEST(ImageBamRule, PageThenHeaderRequestThenFile) {
    struct Case {
        const char* what;
        std::string disposition;
        std::string savedAs;  // "" when the address must end in the failure log
    };
    const Case cases[] = {
        {"quoted name", "attachment; filename=\"real name.jpg\"", "real name.jpg"},
        {"name with folders", "attachment; filename=\"../../up/evil.jpg\"", "evil.jpg"},
        {"no quoted name", "attachment; filename=plain.jpg", ""},
    };
    for (const auto& c : cases) {
        NetworkBench net;
        net.server.route(kBamPage,
                         Reply::ok(page("<a class=\"btn\" href='http://www.imagebam.com/download/"
                                        "ab12cd?a=1&amp;b=2' target=\"_blank\">Save</a>")));
        net.server.route(kBamDownload, withDisposition(Reply::generated(2000, 1), c.disposition));
        net.bench.document.images = {kBamThumb};
        const JobResult result = net.bench.run();
        std::vector<std::string> expected = {std::string("GET ") + kBamPage,
                                             std::string("HEAD ") + kBamDownload};
        // Without a name nothing could be saved: the file is not asked for.
        if (!c.savedAs.empty()) expected.push_back(std::string("GET ") + kBamDownload);
        EXPECT_EQ(net.seen(), expected) << c.what;
        if (c.savedAs.empty()) {
            EXPECT_EQ(result.finishedCount, 0) << c.what;
            EXPECT_EQ(net.bench.view.log,
                      testing::kLogStart + "Downloading file ..." +
                          testing::logRetry("no usable file name") + "Downloading file ..." +
                          testing::logRetry("no usable file name") + "Downloading file ..." +
                          testing::logLogged("no usable file name"))
                << c.what;
            EXPECT_EQ(net.bench.failedTxt(), std::string(kBamDownload) + "\r\n") << c.what;
            EXPECT_TRUE(std::filesystem::is_empty(net.bench.saveFolder)) << c.what;
        } else {
            EXPECT_EQ(result.finishedCount, 1) << c.what;
            EXPECT_EQ(readFile(net.bench.saved(c.savedAs)), generatedBytes(2000, 1)) << c.what;
        }
        expectNoScratchFiles(net);
    }
}

TEST(ImageBamRule, APageWithoutTheMarkerDeclinesOneThatCannotBeReadIsLogged) {
    struct Case {
        const char* what;
        bool serve;
        Reply reply;
        std::string problem;  // "" when the rule declines in silence
    };
    const Case cases[] = {
        {"missing page", false, {}, "HTTP 404"},
        {"page without the marker", true, Reply::ok(page("<a href='http://elsewhere/x'>")), ""},
        {"error page without the marker", true, Reply::withStatus(503, page("busy")), "HTTP 503"},
    };
    for (const auto& c : cases) {
        NetworkBench net;
        if (c.serve) net.server.route(kBamPage, c.reply);
        net.bench.document.images = {kBamThumb};
        const JobResult result = net.bench.run();
        EXPECT_EQ(net.seen(), std::vector<std::string>{std::string("GET ") + kBamPage}) << c.what;
        EXPECT_EQ(result.finishedCount, 0) << c.what;
        if (c.problem.empty()) {
            EXPECT_EQ(net.bench.view.log, testing::kLogStart) << c.what;
            EXPECT_EQ(net.bench.failedTxt(), "") << c.what;
        } else {
            EXPECT_EQ(net.bench.view.log, testing::kLogStart + "Service page cannot be read: " +
                                              kBamPage + " (" + c.problem + ")\r\n")
                << c.what;
            EXPECT_EQ(net.bench.failedTxt(), std::string(kBamThumb) + "\r\n") << c.what;
        }
        EXPECT_EQ(result.failuresLogged, c.problem.empty() ? 0 : 1) << c.what;
        expectNoScratchFiles(net);
    }
}

// ImageVenue.

constexpr const char* kVenueThumb = "http://img5.imagevenue.com/loc77/th_12345_x.jpg";
constexpr const char* kVenuePage = "http://img5.imagevenue.com/img.php?loc=loc77&image=12345_x.jpg";
constexpr const char* kVenueImage = "http://img5.imagevenue.com/aAfkj01-12/loc77/12345_x.jpg";

void serveVenue(NetworkBench& net) {
    net.server.route(kVenuePage,
                     Reply::ok(page("<img id=\"thepic\" SRC=\"aAfkj01-12/loc77/"
                                    "12345_x.jpg\" ALT=\"aAfkj01-12/loc77/12345_x.jpg\" "
                                    "width=\"800\">")));
    net.server.route(kVenueImage, Reply::generated(1500, 2));
}

TEST(ImageVenueRule, RepeatsAreDownloadedOncePerRun) {
    NetworkBench net;
    serveVenue(net);
    net.bench.document.images = {kVenueThumb, kVenueThumb};
    const auto start = std::chrono::steady_clock::now();
    const JobResult first = net.bench.run();
    // Each scan waits 300 ms before reading the page.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(600));
    EXPECT_EQ(first.finishedCount, 1);
    EXPECT_EQ(readFile(net.bench.saved("12345_x.jpg")), generatedBytes(1500, 2));
    // The page is fetched every time: the test against earlier downloads comes after the scan.
    EXPECT_EQ(net.seen(), (std::vector<std::string>{std::string("GET ") + kVenuePage,
                                                    std::string("GET ") + kVenueImage,
                                                    std::string("GET ") + kVenuePage}));
    EXPECT_EQ(net.bench.memory.imageVenueDone, std::string("*") + kVenueImage);

    net.server.clearRequests();
    net.bench.document.images = {kVenueThumb};
    const JobResult second = net.bench.run();
    EXPECT_EQ(second.finishedCount, 0);
    EXPECT_EQ(net.seen(), std::vector<std::string>{std::string("GET ") + kVenuePage});
    expectNoScratchFiles(net);
}

TEST(ImageVenueRule, AnAddressInsideALongerDoneOneIsDeclined) {
    NetworkBench net;
    serveVenue(net);
    net.bench.memory.imageVenueDone = std::string("*") + kVenueImage + "?size=big";
    net.bench.document.images = {kVenueThumb};
    EXPECT_EQ(net.bench.run().finishedCount, 0);
    EXPECT_TRUE(net.server.requestsFor(kVenueImage).empty());
}

TEST(ImageVenueRule, AStoppedDownloadIsNotRememberedAsDone) {
    NetworkBench net;
    serveVenue(net);
    Reply slow = Reply::generated(4000, 2);
    slow.drip = testing::Drip{200, std::chrono::milliseconds(20)};
    net.server.route(kVenueImage, slow);
    net.bench.program.settings.pieceSize = 1000;
    net.loop.onYield = [&](int) {
        if (!std::filesystem::is_empty(net.bench.saveFolder)) net.bench.status->stopClick();
    };
    net.bench.document.images = {kVenueThumb};
    EXPECT_TRUE(net.bench.run().stopped);
    EXPECT_EQ(net.bench.memory.imageVenueDone, "");
    expectNoScratchFiles(net);
}

// ImageHaven.

TEST(ImageHavenRule, ImageAddressFromThePage) {
    NetworkBench net;
    const std::string pageUrl = "http://img105.imagehaven.net/img.php?id=12_x.jpg";
    net.server.route(pageUrl, Reply::ok(page("<IMG SRC='./images/12_x.jpg' id=\"image\" "
                                             "onclick=\"resize()\">")));
    net.server.route("http://img105.imagehaven.net/images/12_x.jpg", Reply::ok("haven"));
    net.bench.document.images = {"http://img105.imagehaven.net/img/thumbs/12_x.jpg"};
    EXPECT_EQ(net.bench.run().finishedCount, 1);
    EXPECT_EQ(readFile(net.bench.saved("12_x.jpg")), "haven");
    EXPECT_EQ(net.seen().front(), "GET " + pageUrl);
    expectNoScratchFiles(net);
}

TEST(ImageHavenRule, OddPagesGiveADeclineOrALoggedFailure) {
    const std::string thumb = "http://img105.imagehaven.net/img/thumbs/12_x.jpg";
    const std::string pageUrl = "http://img105.imagehaven.net/img.php?id=12_x.jpg";
    const std::string image = "http://img105.imagehaven.net/images/12_x.jpg";
    struct Case {
        const char* what;
        bool serve;
        Reply reply;
        bool imageAsked;
    };
    const std::string markerAtEnd = "<img src='./images/12_x.jpg'>";
    Reply huge = Reply::generated(129ull * 1024 * 1024, 3);
    std::string nuls(20000, '\0');
    const Case cases[] = {
        {"missing", false, {}, false},
        {"error page with the marker", true, Reply::withStatus(404, page(markerAtEnd)), true},
        {"no line ends", true, Reply::ok(std::string(3'000'000, 'x') + " " + markerAtEnd), true},
        {"NUL bytes", true, Reply::ok(nuls + markerAtEnd + nuls), true},
        {"NUL bytes, no marker", true, Reply::ok(nuls + "<img src=\"x\">"), false},
        {"larger than any page", true, huge, false},
    };
    for (const auto& c : cases) {
        NetworkBench net;
        if (c.serve) net.server.route(pageUrl, c.reply);
        net.server.route(image, Reply::ok("haven"));
        net.bench.document.images = {thumb};
        const JobResult result = net.bench.run();
        EXPECT_EQ(net.server.requestsFor(image).size(), c.imageAsked ? 1u : 0u) << c.what;
        EXPECT_EQ(result.finishedCount, c.imageAsked ? 1 : 0) << c.what;
        expectNoScratchFiles(net);
    }
}

// TurboImageHost.

TEST(TurboImageHostRule, OnlyTheFirstUnderscoreBecomesASlash) {
    NetworkBench net;
    const std::string pageUrl = "http://www.turboimagehost.com/p/1/2_3.jpg.html";
    net.server.route(pageUrl, Reply::ok(page("<a href=\"http://www.turboimagehost.com\"><img "
                                             "src=\"http://s1d4.TURBOIMAGEHOST.COM/sp/ab/2_3.jpg\" "
                                             "alt=\"x\"></a>")));
    net.server.route("http://s1d4.TURBOIMAGEHOST.COM/sp/ab/2_3.jpg", Reply::ok("turbo"));
    net.bench.document.images = {"http://s1.turboimagehost.com/t/1_2_3.jpg"};
    EXPECT_EQ(net.bench.run().finishedCount, 1);
    EXPECT_EQ(net.seen().front(), "GET " + pageUrl);
    EXPECT_EQ(readFile(net.bench.saved("2_3.jpg")), "turbo");
    expectNoScratchFiles(net);
}

TEST(TurboImageHostRule, DeclinesAndAMarkerAtTheStartOfItsItem) {
    struct Case {
        const char* what;
        std::string thumb;
        bool serve;
        std::string body;
        std::vector<std::string> requests;  // after the page
        bool logged = false;                // the thumbnail went to "failed.txt"
    };
    const std::string pageUrl = "http://www.turboimagehost.com/p/9.jpg.html";
    const Case cases[] = {
        {"not a thumbnail", "http://www.turboimagehost.com/p/9.jpg", false, "", {}},
        {"page missing", "http://s1.turboimagehost.com/t/9.jpg", false, "", {}},
        {"no marker", "http://s1.turboimagehost.com/t/9.jpg", true, page("<img src=\"x\">"), {}},
        // The cut 11 characters before the marker cannot be made: the whole item would be the
        // address, which is no web address, so nothing is asked for.
        {"marker early in its item",
         "http://s1.turboimagehost.com/t/9.jpg",
         true,
         "s2.turboimagehost.com/sp/9.jpg\" alt, more",
         {},
         true},
        // A three-letter host puts the cut on the quote before the address: no address at all.
        {"three-letter host",
         "http://s1.turboimagehost.com/t/9.jpg",
         true,
         "<img src=\"http://s12.turboimagehost.com/sp/9.jpg\">",
         {},
         true},
    };
    for (const auto& c : cases) {
        NetworkBench net;
        if (c.serve) net.server.route(pageUrl, Reply::ok(c.body));
        net.server.setFallback([](const testing::Request&) { return Reply::ok("any"); });
        net.bench.document.images = {c.thumb};
        net.bench.run();
        auto seen = net.seen();
        if (!seen.empty() && seen.front() == "GET " + pageUrl) seen.erase(seen.begin());
        EXPECT_EQ(seen, c.requests) << c.what;
        EXPECT_EQ(net.bench.failedTxt(), c.logged ? c.thumb + "\r\n" : "") << c.what;
        expectNoScratchFiles(net);
    }
}

// Flickr.

constexpr const char* kFlickrPage = "http://www.flickr.com/photos/someone/";
constexpr const char* kFlickrThumb = "http://farm1.static.flickr.com/1/123_abc_s.jpg";
constexpr const char* kSizePage = "http://www.flickr.com/photos/someone/123/sizes/o/";

TEST(FlickrRule, OriginalFromTheSizePage) {
    NetworkBench net;
    net.server.route(kSizePage,
                     Reply::ok(page("<p>Download: <a href=\"http://farm1.static.flickr.com/1/"
                                    "123_abc_O.JPG?dl=1\">original</a>, <img src=\"http://x/"
                                    "second_o.jpg\"></p>")));
    net.server.route("http://farm1.static.flickr.com/1/123_abc_O.JPG", Reply::ok("original"));
    net.bench.document.images = {kFlickrThumb};
    const JobResult result = net.bench.run(std::string("  ") + kFlickrPage + "  ");
    EXPECT_EQ(result.finishedCount, 1);
    EXPECT_EQ(net.seen(),
              (std::vector<std::string>{std::string("GET ") + kSizePage,
                                        "GET http://farm1.static.flickr.com/1/123_abc_O.JPG"}));
    EXPECT_EQ(readFile(net.bench.saved("123.jpg")), "original");
    expectNoScratchFiles(net);
}

TEST(FlickrRule, WithoutTheOriginalOnThePage) {
    struct Case {
        const char* what;
        std::string pageAddress;
        std::string thumb;
        bool serveStatic;
        std::string sizePage;
        int finished;
        bool fallbackAsked;
    };
    const Case cases[] = {
        {"first static server: fallback", kFlickrPage, kFlickrThumb, true, kSizePage, 1, true},
        {"fallback address missing", kFlickrPage, kFlickrThumb, false, kSizePage, 0, true},
        {"another server: nothing more", kFlickrPage,
         "http://farm2.static.flickr.com/2/123_abc_s.jpg", true, kSizePage, 0, false},
        {"no user in the page address", "http://forum.test/thread", kFlickrThumb, true,
         "http://www.flickr.com/photos//123/sizes/o/", 1, true},
    };
    for (const auto& c : cases) {
        NetworkBench net;
        net.server.route(c.sizePage, Reply::ok(page("no original here, sorry")));
        const std::string fallback = "http://farm1.static.flickr.com/1/123_abc_o.jpg";
        if (c.serveStatic) net.server.route(fallback, Reply::ok("small original"));
        net.bench.document.images = {c.thumb};
        const JobResult result = net.bench.run(c.pageAddress);
        EXPECT_EQ(net.seen().front(), "GET " + c.sizePage) << c.what;
        EXPECT_EQ(result.finishedCount, c.finished) << c.what;
        const std::string log = net.bench.view.log;
        EXPECT_EQ(log.find("Original file cannot be downloaded.\r\n"),
                  std::string("Starting download process...\r\n").size())
            << c.what;
        EXPECT_EQ(net.server.requestsFor(fallback).empty(), !c.fallbackAsked) << c.what;
        expectNoScratchFiles(net);
    }
}

TEST(FlickrRule, AStopDuringTheDownloadLeavesNothingBehind) {
    NetworkBench net;
    net.server.route(kSizePage, Reply::ok(page("<a href=\"http://farm1.static.flickr.com/1/"
                                               "123_abc_o.jpg\">original</a>")));
    Reply slow = Reply::generated(4000, 8);
    slow.drip = testing::Drip{200, std::chrono::milliseconds(20)};
    net.server.route("http://farm1.static.flickr.com/1/123_abc_o.jpg", slow);
    net.bench.program.settings.pieceSize = 1000;
    net.loop.onYield = [&](int) {
        if (!std::filesystem::is_empty(net.bench.saveFolder)) net.bench.status->stopClick();
    };
    net.bench.document.images = {kFlickrThumb, kFlickrThumb};
    const JobResult result = net.bench.run(kFlickrPage);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(net.server.requestsFor(kSizePage).size(), 1u);
    // The download stopped in the middle leaves nothing in the save folder either.
    EXPECT_TRUE(std::filesystem::is_empty(net.bench.saveFolder));
    expectNoScratchFiles(net);
}

// Photoshare.

TEST(PhotoshareRule, WalksTheLinksThenEndsTheJob) {
    NetworkBench net;
    net.server.setFallback([](const testing::Request& request) { return Reply::ok(request.url); });
    const std::string pageAddress = "http://photoshare.ru/album/7";
    net.bench.document.images = {"http://radikal.ru/at.jpg", "http://photoshare.ru/thumb/1.jpg",
                                 "http://radikal.ru/bt.jpg"};
    net.bench.document.links = {pageAddress,
                                "http://photoshare.ru/photo1.html",
                                "http://photoshare.ru/photo1.html",
                                "http://photoshare.ru/album/8",
                                "http://photoshare.ru/photo1.html",
                                "http://photoshare.ru/photo22.html"};
    const JobResult result = net.bench.run(pageAddress);
    EXPECT_EQ(net.seen(),
              (std::vector<std::string>{"GET http://radikal.ru/a.jpg",
                                        "GET http://photoshare.ru/original/photoshare.ru-1.jpg",
                                        "GET http://photoshare.ru/original/photoshare.ru-1.jpg",
                                        "GET http://photoshare.ru/original/photoshare.ru-22.jpg"}));
    EXPECT_EQ(result.finishedCount, 4);
    EXPECT_EQ(readFile(net.bench.saved("22.jpg")),
              "http://photoshare.ru/original/photoshare.ru-22.jpg");
}

}  // namespace
}  // namespace velnoria
