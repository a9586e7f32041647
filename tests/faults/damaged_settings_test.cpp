// velnoria-get started next to a damaged "settings.dat": the job runs on the defaults (or on the
// values that survived) and the file is left as it was.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/job_fakes.h"
#include "tests/support/test_http_server.h"

namespace velnoria::testing {
namespace {

TEST(DamagedSettings, TheJobRunsOnTheDefaults) {
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>(i * 7 % 256));
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"binary", binary},
        {"one endless line", std::string(10 * 1024 * 1024, 'a')},
        {"cut inside the time-out line", "CURDIR$\\images\r\n 3"},
        {"empty", ""},
    };
    TestHttpServer server;
    ScopedProxy proxy(server);
    server.route("http://forum.test/t",
                 Reply::ok("<img src='http://www.hqcity.net/thumbs/x.jpg'>"));
    server.route("http://www.hqcity.net/hq/x.jpg", Reply::generated(150000, 5));
    for (const auto& c : cases) {
        TempFolder folder;
        writeFile(folder.path() / "settings.dat", c.bytes);
        std::filesystem::create_directory(folder.path() / "images");
        const ChildResult run = runChild(VELNORIA_GET_PATH, {"http://forum.test/t"}, folder.path(),
                                         std::chrono::seconds(30));
        EXPECT_EQ(run.exitCode, 0) << c.what << ": " << run.err;
        EXPECT_EQ(run.err, "") << c.what;
        EXPECT_EQ(run.out,
                  "Starting download process...\nDownloading file x.jpg...OK\n"
                  "Task finished !\n 1 file(s) downloaded.\n")
            << c.what;
        EXPECT_TRUE(readFile(folder.path() / "images" / "x.jpg") == generatedBytes(150000, 5))
            << c.what;
        EXPECT_TRUE(readFile(folder.path() / "settings.dat") == c.bytes) << c.what;
    }
}

}  // namespace
}  // namespace velnoria::testing
