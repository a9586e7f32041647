#include <QMessageBox>
#include <QTest>
#include <filesystem>
#include <optional>

#include "tests/gui/main_window_fixture.h"

namespace velnoria::testing {
namespace {

namespace fs = std::filesystem;

class UpdateButtonTest : public MainWindowTest {
  protected:
    UpdateButtonTest() { fs::create_directories(work.path() / "images"); }

    // Presses "U" and returns what the status line showed while the box was open.
    QString pressU() {
        QString statusDuringBox;
        answerer.onBox([&](const SeenBox&) { statusDuringBox = statusLine()->text(); });
        QTest::mouseClick(button("checkUpdate"), Qt::LeftButton);
        answerer.onBox(nullptr);
        return statusDuringBox;
    }
};

TEST_F(UpdateButtonTest, ReportsTheOutcomeOfTheVersionFile) {
    struct Case {
        const char* versionFile;
        const char* title;
        const char* text;
        bool opensSite;
    };
    const Case cases[] = {
        {"2.3\r\n", "New version", "New version available ! Please visit our site to download",
         true},
        {"2.2\r\n", "Update checked", "There is no new version available at this time!", false},
        {"2.10", "Update checked", "There is no new version available at this time!", false},
        {"10", "New version", "New version available ! Please visit our site to download", true},
    };
    start();
    for (const Case& c : cases) {
        server.route(kVersionFile, Reply::ok(c.versionFile, "text/plain"));
        RecordingOpener::instance().clear();
        const std::size_t boxesBefore = answerer.boxes().size();
        const QString statusDuringBox = pressU();
        ASSERT_EQ(answerer.boxes().size(), boxesBefore + 1) << c.versionFile;
        const SeenBox& box = answerer.boxes().back();
        EXPECT_EQ(box.title, c.title) << c.versionFile;
        EXPECT_EQ(box.text, c.text) << c.versionFile;
        EXPECT_EQ(box.icon, QMessageBox::NoIcon) << c.versionFile;
        EXPECT_EQ(statusDuringBox, "Contacting server, please wait...OK") << c.versionFile;
        EXPECT_EQ(statusLine()->text(), "") << c.versionFile;
        EXPECT_FALSE(fs::exists(work.path() / "version.txt")) << c.versionFile;
        if (c.opensSite) {
            ASSERT_TRUE(RecordingOpener::instance().waitForOpened(1)) << c.versionFile;
            EXPECT_EQ(RecordingOpener::instance().opened()[0], "http://www.velnoria.example/");
        } else {
            QTest::qWait(200);
            EXPECT_TRUE(RecordingOpener::instance().opened().empty()) << c.versionFile;
        }
    }
}

TEST_F(UpdateButtonTest, NoNetworkSaysThePageCannotBeContacted) {
    start();
    ScopedEnv nowhere("http_proxy", "http://127.0.0.1:9");
    const QString statusDuringBox = pressU();
    ASSERT_EQ(answerer.boxes().size(), 1u);
    EXPECT_EQ(answerer.boxes()[0].title, "Error");
    EXPECT_EQ(answerer.boxes()[0].text, "Our page cannot be contacted");
    EXPECT_EQ(answerer.boxes()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(statusDuringBox, "Contacting server, please wait...failed.");
    EXPECT_EQ(statusLine()->text(), "");
    EXPECT_FALSE(fs::exists(work.path() / "version.txt"));
}

}  // namespace
}  // namespace velnoria::testing
