#include <QMessageBox>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "shell/web_browser.h"
#include "tests/gui/main_window_fixture.h"

namespace velnoria::testing {
namespace {

namespace fs = std::filesystem;

using StartupTest = MainWindowTest;

TEST_F(StartupTest, FirstStartCreatesTheSettingsAndTheFolderAndSaysSoOnce) {
    start();
    ASSERT_TRUE(started);
    EXPECT_EQ(readFile(work.path() / "settings.dat"), "CURDIR$\\images\r\n 30 \r\n 102400 \r\n");
    ASSERT_EQ(answerer.boxes().size(), 1u);
    EXPECT_EQ(answerer.boxes()[0].title, "Error");
    EXPECT_EQ(answerer.boxes()[0].text, "Error: save path does not exist ! ");
    EXPECT_EQ(answerer.boxes()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(fs::is_directory(work.path() / "images"));
    EXPECT_EQ(window->state().settings.savePath, (work.path() / "images").string());

    // What the window looks like once start-up is over.
    EXPECT_EQ(window->windowTitle(), "Velnoria Morvath v2.2");
    EXPECT_FALSE(button("startDownload")->isEnabled());
    EXPECT_EQ(addressBox()->text(), "");
    EXPECT_EQ(statusLine()->text(), "");
    EXPECT_FALSE(window->startingUp());
    EXPECT_EQ(window->browser()->location(), "about:blank");
    EXPECT_FALSE(fs::exists(work.path() / "version.txt"));
    EXPECT_TRUE(endCodes.empty());
    // The silent update check asked for the version file.
    EXPECT_EQ(server.requestsFor(kVersionFile).size(), 1u);

    window.reset();
    start();
    EXPECT_TRUE(started);
    EXPECT_EQ(answerer.boxes().size(), 1u);
}

TEST_F(StartupTest, MissingSavedFolderIsReportedAndLeftAsSaved) {
    const fs::path gone = work.path() / "deleted since";
    {
        std::ofstream file(work.path() / "settings.dat", std::ios::binary);
        file << gone.string() << "\r\n 12 \r\n 4096 \r\n";
    }
    start();
    ASSERT_EQ(answerer.boxes().size(), 1u);
    EXPECT_EQ(answerer.boxes()[0].text, "Error: save path does not exist ! ");
    EXPECT_TRUE(fs::is_directory(work.path() / "images"));
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_EQ(window->state().settings.savePath, gone.string());
    EXPECT_EQ(window->state().settings.timeoutSeconds, 12);
    EXPECT_EQ(window->state().settings.pieceSize, 4096);
}

TEST_F(StartupTest, UpdateCheckAtStartUpSpeaksOnlyOfANewerVersion) {
    fs::create_directories(work.path() / "images");
    server.route(kVersionFile, Reply::ok("2.3\r\n", "text/plain"));
    start();
    ASSERT_EQ(answerer.boxes().size(), 1u);
    EXPECT_EQ(answerer.boxes()[0].title, "New version");
    EXPECT_EQ(answerer.boxes()[0].text,
              "New version available ! Please visit our site to download");
    EXPECT_EQ(answerer.boxes()[0].icon, QMessageBox::NoIcon);
    ASSERT_TRUE(RecordingOpener::instance().waitForOpened(1));
    EXPECT_EQ(RecordingOpener::instance().opened()[0], "http://www.velnoria.example/");
    EXPECT_EQ(statusLine()->text(), "");
    EXPECT_FALSE(fs::exists(work.path() / "version.txt"));
}

TEST_F(StartupTest, NoNetworkAtStartUpIsSilent) {
    fs::create_directories(work.path() / "images");
    ScopedEnv nowhere("http_proxy", "http://127.0.0.1:9");
    start();
    EXPECT_TRUE(started);
    EXPECT_TRUE(answerer.boxes().empty());
    EXPECT_EQ(statusLine()->text(), "");
    EXPECT_FALSE(fs::exists(work.path() / "version.txt"));
}

}  // namespace
}  // namespace velnoria::testing
