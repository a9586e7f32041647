#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/own_display.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_http_server.h"

namespace velnoria::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kVersionFile = "http://www.velnoria.example/velnoria/version.txt";

// A folder where the program starts without its first-start message.
// The browser keeps its profile under the folder's own home, not the user's.
class ProgramProcessTest : public ::testing::Test {
  protected:
    ProgramProcessTest() {
        // The programs started here meet no other test's windows.
        startOwnDisplay();
        fs::remove_all(folder);
        fs::create_directories(folder / "images");
        std::ofstream(folder / "settings.dat", std::ios::binary)
            << "CURDIR$\\images\r\n 30 \r\n 2000 \r\n";
        server.route(kVersionFile, Reply::ok("2.2"));
    }
    ~ProgramProcessTest() override { fs::remove_all(folder); }

    fs::path folder = fs::temp_directory_path() /
                      ("velnoria-process-" + std::to_string(::getpid()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    ScopedEnv browserHome{"HOME", (folder / "home").string()};
    ScopedEnv dataHome{"XDG_DATA_HOME", std::nullopt};
    ScopedEnv cacheHome{"XDG_CACHE_HOME", std::nullopt};
    TestHttpServer server;
    ScopedProxy proxy{server};
};

TEST_F(ProgramProcessTest, CommandLineWithoutTheSwitchEndsWithCodeOne) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"/s:"}, {"abc"}, {"/p:", "x"}}) {
        // The settings steps run before the rule: a missing file is created first.
        fs::remove(folder / "settings.dat");
        const ChildResult result = runChild(VELNORIA_DESKTOP_PROGRAM, args, folder, 60s);
        EXPECT_FALSE(result.timedOut) << args[0];
        EXPECT_TRUE(fs::exists(folder / "settings.dat")) << args[0];
        EXPECT_EQ(result.exitCode, 1) << args[0];
        EXPECT_EQ(result.out, "") << args[0];
    }
    // It ended before the update check of the start-up.
    EXPECT_TRUE(server.requestsFor(kVersionFile).empty());
}

TEST_F(ProgramProcessTest, EmptyCommandLineOrTheSwitchStartsTheProgram) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"x", "/s:y"}, {"x /s:y"}}) {
        server.clearRequests();
        ChildProcess program(VELNORIA_DESKTOP_PROGRAM, args, folder);
        // Start-up runs up to its update check and the program stays.
        EXPECT_TRUE(server.waitForRequests(1, 30s));
        std::this_thread::sleep_for(500ms);
        const ChildResult result = program.finish(1ms);
        EXPECT_TRUE(result.timedOut) << "ended on its own with " << result.exitCode;
        EXPECT_EQ(server.requestsFor(kVersionFile).size(), 1u);
    }
}

TEST_F(ProgramProcessTest, ExitOrCloseEndsTheProgramDuringAPageWait) {
    Reply slow = Reply::ok("<html><body>late</body></html>", "text/html");
    slow.neverAnswer = true;
    server.route(server.url("/slow.html"), slow);
    for (const char* how : {"exit", "close"}) {
        const ChildResult result = runChild(
            VELNORIA_SHUTDOWN_PROBE, {"page-wait", how, server.url("/slow.html")}, folder, 60s);
        EXPECT_EQ(result.exitCode, 0) << how << "\n" << result.err;
        EXPECT_EQ(result.out, "ending\n") << how;
    }
}

TEST_F(ProgramProcessTest, ExitOrCloseEndsTheProgramDuringAJob) {
    server.route(server.url("/thread.html"),
                 Reply::ok("<html><body><img src=\"http://www.hqcity.net/thumbs/big.jpg\">"
                           "</body></html>",
                           "text/html"));
    Reply slow = Reply::generated(1000000);
    slow.drip = Drip{1000, 50ms};
    server.route("http://www.hqcity.net/hq/big.jpg", slow);
    for (const char* how : {"exit", "close"}) {
        const ChildResult result = runChild(VELNORIA_SHUTDOWN_PROBE,
                                            {"job", how, server.url("/thread.html")}, folder, 60s);
        EXPECT_EQ(result.exitCode, 0) << how << "\n" << result.err;
        EXPECT_EQ(result.out, "ending\n") << how;
        // The download in hand was under way (the probe waits for its file) and its temporary
        // file goes with the program; no piece of it is left under the image's name.
        EXPECT_TRUE(fs::is_empty(folder / "images")) << how;
    }
}

// A forum login made in the browser holds in the next run of the program, whenever the run before
// ended, until Settings' "Forget cookies and site data" ends it.
TEST_F(ProgramProcessTest, TheBrowserKeepsItsLoginAcrossRunsUntilForgotten) {
    Reply login = Reply::ok(
        "<html><body>Logged in<script>localStorage.setItem('note', 'kept')</script></body></html>",
        "text/html");
    // A session cookie (no expiry) as many forums set it, and a remembered one.
    login.headers = {{"Set-Cookie", "sid=s1; Path=/; HttpOnly"},
                     {"Set-Cookie", "remember=yes; Max-Age=864000; Path=/"}};
    server.route(server.url("/login"), login);
    // The page tells what the site keeps in its storage by the address of an image it asks for.
    server.route(server.url("/whoami"),
                 Reply::ok("<html><body><script>new Image().src = '/note?' + "
                           "(localStorage.getItem('note') || 'none')</script></body></html>",
                           "text/html"));
    const auto probe = [&](std::vector<std::string> args) {
        const ChildResult result = runChild(VELNORIA_SESSION_PROBE, args, folder, 60s);
        EXPECT_EQ(result.exitCode, 0) << args[0] << "\n" << result.err;
        return result.out;
    };
    const auto lastVisit = [&] {
        const std::vector<Request> seen = server.requestsFor(server.url("/whoami"));
        return seen.empty() ? std::string("no visit") : seen.back().header("Cookie");
    };

    EXPECT_EQ(probe({"login", server.url("/login")}), "cookies: remember sid:httponly:session\n");
    // Read back from the profile at the start, as they were.
    EXPECT_EQ(probe({"visit", server.url("/whoami")}), "cookies: remember sid:httponly:session\n");
    EXPECT_EQ(lastVisit(), "sid=s1; remember=yes");
    EXPECT_EQ(server.requestsFor(server.url("/note?kept")).size(), 1u);

    EXPECT_EQ(probe({"forget"}), "forgotten\n");
    EXPECT_EQ(probe({"visit", server.url("/whoami")}), "cookies:\n");
    EXPECT_EQ(lastVisit(), "");
    EXPECT_EQ(server.requestsFor(server.url("/note?none")).size(), 1u);
}

// Started from the menu, the program works in a folder of its own under the user's Pictures folder;
// the launcher's current folder is left alone.
class MenuLaunchTest : public ProgramProcessTest {
  protected:
    MenuLaunchTest() {
        fs::create_directories(launcher);
        fs::create_directories(home / ".config");
        std::ofstream(home / ".config" / "user-dirs.dirs")
            << "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
    }

    static bool waitForFile(const fs::path& file, std::chrono::seconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (!fs::exists(file)) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }

    fs::path home = folder / "home";
    fs::path launcher = folder / "launcher";
    fs::path menuFolder = home / "Bilder" / "Velnoria Morvath";
    ScopedEnv homeVariable{"HOME", home.string()};
    ScopedEnv configVariable{"XDG_CONFIG_HOME", std::nullopt};
};

TEST_F(MenuLaunchTest, FirstStartFromTheMenuMakesAndUsesTheFolder) {
    ChildProcess program(VELNORIA_DESKTOP_PROGRAM, {"--menu-launch"}, launcher);
    // The first start there makes settings.dat, then shows its missing-folder message and waits.
    EXPECT_TRUE(waitForFile(menuFolder / "settings.dat", 30s));
    std::this_thread::sleep_for(500ms);
    const ChildResult result = program.finish(1ms);
    EXPECT_TRUE(result.timedOut) << "ended on its own with " << result.exitCode << "\n"
                                 << result.err;
    EXPECT_TRUE(fs::is_empty(launcher));
}

TEST_F(MenuLaunchTest, OnlyAFirstMenuArgumentMovesAndTheRestMeetsTheCommandLineRule) {
    struct Case {
        std::vector<std::string> args;
        bool inMenuFolder;
    };
    const Case cases[] = {
        {{"--menu-launch", "abc"}, true},
        {{"abc", "--menu-launch"}, false},
        {{"--menu-launch", "--menu-launch"}, true},
    };
    for (const Case& c : cases) {
        fs::remove_all(menuFolder);
        fs::remove_all(launcher);
        const fs::path used = c.inMenuFolder ? menuFolder : launcher;
        const fs::path unused = c.inMenuFolder ? launcher : menuFolder;
        fs::create_directories(used / "images");
        fs::create_directories(launcher);
        const ChildResult result = runChild(VELNORIA_DESKTOP_PROGRAM, c.args, launcher, 60s);
        EXPECT_EQ(result.exitCode, 1) << c.args[0] << " " << c.args[1] << "\n" << result.err;
        EXPECT_TRUE(fs::exists(used / "settings.dat")) << c.args[0] << " " << c.args[1];
        EXPECT_FALSE(fs::exists(unused / "settings.dat")) << c.args[0] << " " << c.args[1];
    }
}

TEST_F(MenuLaunchTest, WithoutAFolderToGoToTheProgramStaysInTheCurrentFolder) {
    std::ofstream(home / "Bilder") << "a file where the folder would go";
    struct Case {
        std::optional<std::string> home;
        std::string message;
    };
    const Case cases[] = {
        {home.string(), "cannot work in \"" + menuFolder.string() + "\""},
        {std::nullopt, "no home folder"},
    };
    for (const Case& c : cases) {
        ScopedEnv homeVariable("HOME", c.home);
        fs::remove_all(launcher);
        fs::create_directories(launcher / "images");
        const ChildResult result =
            runChild(VELNORIA_DESKTOP_PROGRAM, {"--menu-launch", "x"}, launcher);
        EXPECT_EQ(result.exitCode, 1) << c.message;
        EXPECT_TRUE(fs::exists(launcher / "settings.dat")) << c.message;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
}

}  // namespace
}  // namespace velnoria::testing
