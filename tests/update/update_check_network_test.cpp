// The update check through the real libcurl download, the version file served on loopback.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/network_bench.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_http_server.h"
#include "tests/update/update_fakes.h"
#include "update/update_check.h"

namespace velnoria {
namespace {

namespace fs = std::filesystem;
using testing::Events;
using testing::Reply;
using testing::TempFolder;

const std::string kVersionFile = "http://www.velnoria.example/velnoria/version.txt";

struct NetworkCheck {
    Events events;
    UpdateCheckOutcome outcome;
};

NetworkCheck checkOverTheNetwork(const fs::path& folder, bool startingUp, int timeoutSeconds = 5) {
    NetworkCheck check;
    testing::RecordingMessageBox box(check.events);
    testing::RecordingShell shell(check.events);
    testing::EngineNetwork network(timeoutSeconds);
    check.outcome =
        checkForUpdate({[&](const std::string& text) { check.events.push_back("status " + text); },
                        box, shell, network.download, folder},
                       startingUp);
    return check;
}

// A loopback port where nothing listens.
std::uint16_t closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TEST(UpdateCheckOverHttp, ReadsTheServedVersionFile) {
    const struct {
        Reply reply;
        UpdateCheckOutcome outcome;
        std::string box;
    } cases[] = {
        {Reply::ok("2.3\r\n", "text/plain"), UpdateCheckOutcome::NewerVersion,
         "box New version: New version available ! Please visit our site to download"},
        {Reply::ok("2.2\r\n", "text/plain"), UpdateCheckOutcome::NoNewerVersion,
         "box Update checked: There is no new version available at this time!"},
        // An error page is saved and read like the file: it holds no number.
        {Reply::withStatus(404, "<html><body>Not Found</body></html>"),
         UpdateCheckOutcome::NoNewerVersion,
         "box Update checked: There is no new version available at this time!"},
    };
    for (const auto& c : cases) {
        testing::TestHttpServer server;
        testing::ScopedProxy proxy(server);
        server.route(kVersionFile, c.reply);
        TempFolder folder;
        const NetworkCheck check = checkOverTheNetwork(folder.path(), false);
        EXPECT_EQ(check.outcome, c.outcome);
        ASSERT_GE(check.events.size(), 3u);
        EXPECT_EQ(check.events[1], "status Contacting server, please wait...OK");
        EXPECT_EQ(check.events[2], c.box);
        EXPECT_EQ(check.events.back(), "status ");
        EXPECT_EQ(server.requestsFor(kVersionFile).size(), 1u);
        EXPECT_TRUE(fs::is_empty(folder.path()));
    }
}

TEST(UpdateCheckOverHttp, NoNetworkFailsLoudlyOnlyWhenAskedFor) {
    testing::ScopedEnv proxy("http_proxy", "http://127.0.0.1:" + std::to_string(closedPort()));
    testing::ScopedEnv noProxy("no_proxy", std::nullopt);
    for (const bool startingUp : {false, true}) {
        TempFolder folder;
        const NetworkCheck check = checkOverTheNetwork(folder.path(), startingUp);
        EXPECT_EQ(check.outcome, UpdateCheckOutcome::Unreachable);
        Events expected = {"status Contacting server, please wait...",
                           "status Contacting server, please wait...failed."};
        if (!startingUp) expected.push_back("box Error (stop): Our page cannot be contacted");
        expected.push_back("status ");
        EXPECT_EQ(check.events, expected);
        EXPECT_TRUE(fs::is_empty(folder.path()));
    }
}

TEST(UpdateCheckOverHttp, ACutTransferLeavesNothingBehind) {
    testing::TestHttpServer server;
    testing::ScopedProxy proxy(server);
    Reply cut = Reply::ok("2.9 and a long tail of notes", "text/plain");
    cut.closeAfterBodyBytes = 4;
    server.route(kVersionFile, cut);
    TempFolder folder;
    const NetworkCheck check = checkOverTheNetwork(folder.path(), true);
    EXPECT_EQ(check.outcome, UpdateCheckOutcome::Unreachable);
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

TEST(UpdateCheckOverHttp, ASilentServerEndsWithTheTimeout) {
    testing::TestHttpServer server;
    testing::ScopedProxy proxy(server);
    Reply never;
    never.neverAnswer = true;
    server.route(kVersionFile, never);
    TempFolder folder;
    const auto start = std::chrono::steady_clock::now();
    const NetworkCheck check = checkOverTheNetwork(folder.path(), true, 1);
    EXPECT_EQ(check.outcome, UpdateCheckOutcome::Unreachable);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace velnoria
