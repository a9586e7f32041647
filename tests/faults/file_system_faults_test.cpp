// The file system under the job misbehaving: links planted at the names the job writes, and a
// save folder on a file system that fills up.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/log_texts.h"
#include "tests/support/network_bench.h"
#include "tests/support/scoped_tmpfs.h"

namespace velnoria::testing {
namespace {

namespace fs = std::filesystem;

const std::string& kStart = testing::kLogStart;
using testing::logLogged;
using testing::logRetry;

std::string threeFailures(const std::string& name, const std::string& reason,
                          bool unknownSize = false) {
    const std::string line =
        "Downloading file " + name + "..." +
        (unknownSize ? "\r\nWarning! Unknown file size, trying alternative method for download..."
                     : "");
    return line + logRetry(reason) + line + logRetry(reason) + line + logLogged(reason);
}

Reply withoutLength(std::string body) {
    Reply reply = Reply::ok(std::move(body));
    reply.autoContentLength = false;
    reply.closeConnection = true;
    return reply;
}

TEST(PlantedLinks, NothingIsWrittenThroughThem) {
    struct Case {
        const char* what;
        bool inSaveFolder;  // else in the work folder, at the scratch file's name
        bool targetExists;  // else the link dangles
        bool unknownSize;   // the image comes without a length
    };
    const Case cases[] = {
        {"image name links to a file", true, true, false},
        {"image name links to a file, no length", true, true, true},
        {"image name dangles", true, false, false},
        {"image name dangles, no length", true, false, true},
        {"scratch file links to a file", false, true, false},
        {"scratch file dangles", false, false, false},
    };
    for (const auto& c : cases) {
        NetworkBench net;
        TempFolder outside;
        const fs::path victim = outside.path() / "victim.txt";
        if (c.targetExists) writeFile(victim, "precious");
        const std::string thumb = "http://img1.imagehaven.net/img/thumbs/x.jpg";
        const std::string image = "http://img1.imagehaven.net/images/x.jpg";
        net.server.route("http://img1.imagehaven.net/img.php?id=x.jpg",
                         Reply::ok("<html><img src='./images/x.jpg'></html>"));
        net.server.route(image,
                         c.unknownSize ? withoutLength("new image") : Reply::ok("new image"));
        const fs::path link =
            c.inSaveFolder ? net.bench.saved("x.jpg") : net.bench.temp.path() / "index.htm";
        fs::create_symlink(victim, link);
        net.bench.document.images = {thumb};

        const JobResult result = net.bench.run();
        // What the link points at is never written, nor made.
        if (c.targetExists) {
            EXPECT_EQ(readFile(victim), "precious") << c.what;
        } else {
            EXPECT_FALSE(fs::exists(victim)) << c.what;
        }
        if (c.inSaveFolder) {
            // The name is taken by something that is not the job's to write: the file fails
            // before anything is asked for.
            EXPECT_TRUE(fs::is_symlink(link)) << c.what;
            EXPECT_EQ(net.bench.view.log,
                      kStart + threeFailures("x.jpg", "cannot write: not a regular file"))
                << c.what;
            EXPECT_EQ(net.bench.failedTxt(), image + "\r\n") << c.what;
            EXPECT_EQ(result.finishedCount, 0) << c.what;
        } else {
            // The scan makes a file of its own elsewhere: what had the old scratch name stays.
            EXPECT_TRUE(fs::is_symlink(link)) << c.what;
            EXPECT_EQ(net.bench.scratchFiles(), std::vector<std::string>{}) << c.what;
            EXPECT_EQ(readFile(net.bench.saved("x.jpg")), "new image") << c.what;
            EXPECT_EQ(result.finishedCount, 1) << c.what;
        }
    }
}

TEST(FullDisk, FilesThatDoNotFitFailAndAreLogged) {
    ScopedTmpfs disk("64k");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.error();
    NetworkBench net;
    net.bench.program.settings.savePath = disk.path().string();
    net.bench.program.settings.pieceSize = 8192;
    const std::string base = "http://www.hqcity.net/hq/";
    net.server.route(base + "small1.jpg", Reply::generated(8000, 1));
    net.server.route(base + "big.jpg", Reply::generated(256 * 1024, 2));
    Reply bigUnknown = Reply::generated(256 * 1024, 3);
    bigUnknown.autoContentLength = false;
    bigUnknown.closeConnection = true;
    net.server.route(base + "bigunknown.jpg", bigUnknown);
    net.server.route(base + "small2.jpg", Reply::generated(8000, 4));
    for (const char* name : {"small1", "big", "bigunknown", "small2"}) {
        net.bench.document.images.push_back("http://www.hqcity.net/thumbs/" + std::string(name) +
                                            ".jpg");
    }

    const JobResult result = net.bench.run();
    EXPECT_EQ(result.finishedCount, 2);
    EXPECT_EQ(readFile(disk.path() / "small1.jpg"), generatedBytes(8000, 1));
    const std::string full = "cannot write: No space left on device";
    EXPECT_EQ(net.bench.view.log, kStart + "Downloading file small1.jpg...OK\r\n" +
                                      threeFailures("big.jpg", full) +
                                      threeFailures("bigunknown.jpg", full, true) +
                                      "Downloading file small2.jpg...OK\r\n");
    EXPECT_EQ(net.bench.failedTxt(), base + "big.jpg\r\n" + base + "bigunknown.jpg\r\n");
    // What a file that did not fit had written goes with it, temporary file and all: the disk
    // has room again for the small file after it, and holds nothing else.
    EXPECT_EQ(readFile(disk.path() / "small2.jpg"), generatedBytes(8000, 4));
    EXPECT_EQ(namesIn(disk.path()), (std::vector<std::string>{"small1.jpg", "small2.jpg"}));
}

}  // namespace
}  // namespace velnoria::testing
