#include <sys/resource.h>

#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <cstdio>
#include <filesystem>

#include "shell/about_dialog.h"
#include "shell/settings_dialog.h"
#include "shell/web_browser.h"
#include "tests/gui/main_window_fixture.h"

namespace velnoria::testing {
namespace {

namespace fs = std::filesystem;

class NavigationTest : public MainWindowTest {
  protected:
    NavigationTest() {
        fs::create_directories(work.path() / "images");
        server.route(
            server.url("/thread.html"),
            Reply::ok(pageWithImages({}) + "<a id=next href=\"/next.html\">next</a>", "text/html"));
        server.route(server.url("/next.html"),
                     Reply::ok("<html><body>next</body></html>", "text/html"));
        server.route(server.url("/old.html"), Reply::redirect(server.url("/thread.html")));
    }
};

TEST_F(NavigationTest, MainWindowLayout) {
    start();
    struct Control {
        const char* name;
        int left, top, width, height;
        const char* caption;
        const char* toolTip;
    };
    const Control controls[] = {
        {"startDownload", 480, 360, 2052, 492, "Start Download", ""},
        {"back", 2760, 360, 492, 492, "<<", "Go back one page"},
        {"stop", 3480, 360, 492, 492, "X", "Stop"},
        {"forward", 4200, 360, 492, 492, ">>", "Go forward one page"},
        {"checkUpdate", 4920, 360, 492, 492, "U", "Check update"},
        {"logo", 5640, 360, 1320, 492, nullptr, "Visit the Velnoria Morvath home page"},
        {"settings", 7200, 360, 1452, 492, "Settings", ""},
        {"about", 8880, 360, 1452, 492, "About", ""},
        {"exit", 10560, 360, 1452, 492, "Exit", ""},
        {"statusLine", 480, 960, 11532, 252, nullptr, ""},
        {"addressBox", 480, 1320, 10212, 372, nullptr, "Type adress here"},
        {"go", 10800, 1320, 1212, 372, "&Go", ""},
        {"browser", 480, 1920, 11532, 6852, nullptr, ""},
    };
    const auto px = [](int twips) { return qRound(twips / 15.0); };
    EXPECT_EQ(window->size(), QSize(px(12168), px(8736)));
    for (const Control& c : controls) {
        auto* widget = control<QWidget>(c.name);
        ASSERT_NE(widget, nullptr) << c.name;
        EXPECT_EQ(widget->geometry(), QRect(px(c.left), px(c.top), px(c.width), px(c.height)))
            << c.name;
        EXPECT_EQ(widget->toolTip(), QString::fromUtf8(c.toolTip)) << c.name;
        if (c.caption != nullptr) {
            EXPECT_EQ(qobject_cast<QPushButton*>(widget)->text(), c.caption) << c.name;
        }
    }
    std::vector<QString> order;
    QWidget* widget = addressBox();
    do {
        if (widget->focusPolicy() & Qt::TabFocus && widget->parentWidget() == window.get()) {
            order.push_back(widget->objectName());
        }
        widget = widget->nextInFocusChain();
    } while (widget != addressBox() && order.size() < 40);
    EXPECT_EQ(order, (std::vector<QString>{"addressBox", "startDownload", "go", "exit", "about",
                                           "back", "stop", "forward", "settings", "checkUpdate"}));
    EXPECT_TRUE(button("go")->isDefault());
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(64, 64, 64));
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
}

TEST_F(NavigationTest, GoLoadsThePageAndEnablesTheDownload) {
    start();
    ASSERT_FALSE(button("startDownload")->isEnabled());
    go("  " + server.url("/thread.html") + "  ");
    EXPECT_EQ(statusLine()->text(), "Loaded.");
    EXPECT_EQ(addressBox()->text().toStdString(), server.url("/thread.html"));
    EXPECT_TRUE(button("startDownload")->isEnabled());
    EXPECT_EQ(window->browser()->readyState(), WebBrowser::kComplete);
    // The browser asked for the trimmed address.
    EXPECT_EQ(server.requestsFor(server.url("/thread.html")).size(), 1u);
}

TEST_F(NavigationTest, GoToAnAnchorOfTheSamePageEnds) {
    start();
    go(server.url("/thread.html"));
    const auto before = std::chrono::steady_clock::now();
    go(server.url("/thread.html#next"));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds{5});
    EXPECT_EQ(statusLine()->text(), "Loaded.");
    EXPECT_EQ(addressBox()->text().toStdString(), server.url("/thread.html#next"));
    // The same anchor once more: nothing changes, and the wait still ends.
    go(server.url("/thread.html#next"));
    EXPECT_EQ(statusLine()->text(), "Loaded.");
    EXPECT_EQ(server.requestsFor(server.url("/thread.html")).size(), 1u);
}

TEST_F(NavigationTest, RedirectPutsTheFinalAddressInTheBox) {
    start();
    addressBox()->setText(QString::fromStdString(server.url("/old.html")));
    QTest::keyClick(addressBox(), Qt::Key_Return);  // Enter presses Go
    EXPECT_EQ(statusLine()->text(), "Loaded.");
    EXPECT_EQ(addressBox()->text().toStdString(), server.url("/thread.html"));
}

TEST_F(NavigationTest, EnterPressesTheFocusedButtonElseGo) {
    start();
    button("about")->setFocus();
    QTest::keyClick(window.get(), Qt::Key_Return);
    ASSERT_NE(window->aboutDialog(), nullptr);
    EXPECT_TRUE(window->aboutDialog()->isVisible());
    window->aboutDialog()->close();

    control<QWidget>("statusLine")->setFocus();
    addressBox()->setText(QString::fromStdString(server.url("/next.html")));
    window->activateWindow();
    window->setFocus();
    QTest::keyClick(window.get(), Qt::Key_Enter);
    EXPECT_EQ(statusLine()->text(), "Loaded.");
    EXPECT_TRUE(button("startDownload")->isEnabled());
}

TEST_F(NavigationTest, OneEnterIsOneGoAndStopKeepsTheTypedAddress) {
    Reply slow = Reply::ok("<html><body>late</body></html>", "text/html");
    slow.headerDelay = std::chrono::seconds{4};
    server.route(server.url("/slow.html"), slow);
    start();
    const std::string fast = server.url("/thread.html");
    QTest::keyClicks(addressBox(), QString::fromStdString(fast));
    QTest::keyClick(addressBox(), Qt::Key_Return);
    QTest::qWait(300);
    EXPECT_EQ(server.requestsFor(fast).size(), 1u);
    EXPECT_EQ(addressBox()->text().toStdString(), fast);

    // Stopped before the page arrived: the box keeps what was typed, and no second Go follows.
    const std::string typed = server.url("/slow.html");
    addressBox()->clear();
    QTest::keyClicks(addressBox(), QString::fromStdString(typed));
    QTimer::singleShot(700, [&] { QTest::mouseClick(button("stop"), Qt::LeftButton); });
    QTest::keyClick(addressBox(), Qt::Key_Return);
    QTest::qWait(500);
    EXPECT_EQ(addressBox()->text().toStdString(), typed);
    EXPECT_EQ(server.requestsFor(typed).size(), 1u);
}

TEST_F(NavigationTest, StopDuringASlowLoadEnablesTheDownloadAtOnce) {
    Reply slow = Reply::ok("<html><body>late</body></html>", "text/html");
    slow.headerDelay = std::chrono::seconds{4};
    server.route(server.url("/slow.html"), slow);
    start();
    QString statusWhileLoading;
    QString statusAfterStop;
    bool enabledAfterStop = false;
    QTimer::singleShot(700, [&] {
        statusWhileLoading = statusLine()->text();
        QTest::mouseClick(button("stop"), Qt::LeftButton);
        statusAfterStop = statusLine()->text();
        enabledAfterStop = button("startDownload")->isEnabled();
    });
    const auto before = std::chrono::steady_clock::now();
    go(server.url("/slow.html"));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds{3});
    EXPECT_TRUE(statusWhileLoading == "Loading page, please wait..." ||
                statusWhileLoading == "Loading...")
        << statusWhileLoading.toStdString();
    EXPECT_EQ(statusAfterStop, "Page stopped.");
    EXPECT_TRUE(enabledAfterStop);
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

TEST_F(NavigationTest, APageWaitDoesNotSpin) {
    Reply silent = Reply::ok("");
    silent.neverAnswer = true;
    server.route(server.url("/silent.html"), silent);
    start();
    double cpuAtStart = 0;
    double cpuAtEnd = 0;
    QTimer::singleShot(300, [&] { cpuAtStart = processCpuSeconds(); });
    QTimer::singleShot(2300, [&] {
        cpuAtEnd = processCpuSeconds();
        QTest::mouseClick(button("stop"), Qt::LeftButton);
    });
    go(server.url("/silent.html"));
    // A spinning wait would use about a whole core for these two seconds.
    EXPECT_LT(cpuAtEnd - cpuAtStart, 0.8);
    std::printf("cpu during a 2 s page wait: %.3f s\n", cpuAtEnd - cpuAtStart);
}

TEST_F(NavigationTest, GoWhileAPageLoadsWaitsForTheNewPage) {
    Reply slow = Reply::ok("<html><body>late</body></html>", "text/html");
    slow.headerDelay = std::chrono::seconds{2};
    server.route(server.url("/slow.html"), slow);
    start();
    QString statusAfterInnerGo;
    QString boxAfterInnerGo;
    QTimer::singleShot(300, [&] {
        go(server.url("/next.html"));  // runs its own wait, nested in the first
        statusAfterInnerGo = statusLine()->text();
        boxAfterInnerGo = addressBox()->text();
    });
    go(server.url("/slow.html"));
    EXPECT_EQ(statusAfterInnerGo, "Loaded.");
    EXPECT_EQ(boxAfterInnerGo.toStdString(), server.url("/next.html"));
    EXPECT_EQ(window->browser()->location().toStdString(), server.url("/next.html"));
    EXPECT_EQ(statusLine()->text(), "Loaded.");
}

TEST_F(NavigationTest, StopWithoutALoadOnlyEnablesTheDownload) {
    start();
    QTest::mouseClick(button("stop"), Qt::LeftButton);
    EXPECT_EQ(statusLine()->text(), "Page stopped.");
    EXPECT_TRUE(button("startDownload")->isEnabled());
}

TEST_F(NavigationTest, BackAndForwardFollowTheHistoryAndFailSilentlyWithout) {
    start();
    QTest::mouseClick(button("back"), Qt::LeftButton);
    QTest::mouseClick(button("forward"), Qt::LeftButton);
    QTest::qWait(300);
    EXPECT_TRUE(answerer.boxes().empty());
    EXPECT_EQ(statusLine()->text(), "");
    EXPECT_EQ(addressBox()->text(), "");
    EXPECT_FALSE(button("startDownload")->isEnabled());

    go(server.url("/thread.html"));
    go(server.url("/next.html"));
    statusLine()->setText("unchanged");
    QTest::mouseClick(button("back"), Qt::LeftButton);
    // The box follows through the browser's document-complete notice.
    ASSERT_TRUE(waitUntil(
        [&] { return addressBox()->text().toStdString() == server.url("/thread.html"); }));
    QTest::mouseClick(button("forward"), Qt::LeftButton);
    ASSERT_TRUE(
        waitUntil([&] { return addressBox()->text().toStdString() == server.url("/next.html"); }));
    EXPECT_EQ(statusLine()->text(), "unchanged");
}

TEST_F(NavigationTest, AboutTwiceShowsOneCopyOfTheText) {
    start();
    QTest::mouseClick(button("about"), Qt::LeftButton);
    AboutDialog* about = window->aboutDialog();
    ASSERT_NE(about, nullptr);
    about->text()->appendPlainText("typed by the user");
    QTest::mouseClick(button("about"), Qt::LeftButton);
    EXPECT_EQ(window->aboutDialog(), about);
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->text()->toPlainText().toStdString(),
              "Velnoria Morvath v2.2\nCopyright (C) 2026 Velnoria Morvath developers\n\n"
              "Web page: http://www.velnoria.example/\nEmail: support@velnoria.example\n\n"
              "Supported image hosts:\npicasaweb.google.com\nflickr.com\nwebshots.com\n"
              "photofile.ru\nimagebam.com\nimagevenue.com\nimagehaven.net\nimageshack.us\n"
              "radikal.ru\nturboimagehost.com\nfotki.yandex.ru\nphotoshare.ru\n");

    QTest::mouseClick(about->homepageButton(), Qt::LeftButton);
    ASSERT_TRUE(RecordingOpener::instance().waitForOpened(1));
    EXPECT_EQ(RecordingOpener::instance().opened()[0], "http://www.velnoria.example/");
    EXPECT_TRUE(about->isVisible());
    QTest::mouseClick(about->okButton(), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return window->aboutDialog() == nullptr; }));
}

TEST_F(NavigationTest, LogoOpensTheHomePage) {
    start();
    QTest::mouseClick(control<QWidget>("logo"), Qt::LeftButton);
    ASSERT_TRUE(RecordingOpener::instance().waitForOpened(1));
    EXPECT_EQ(RecordingOpener::instance().opened(),
              std::vector<std::string>{"http://www.velnoria.example/"});
}

TEST_F(NavigationTest, SettingsShowTheValuesOfThisStart) {
    start();
    QTest::mouseClick(button("settings"), Qt::LeftButton);
    SettingsDialog* settings = window->settingsDialog();
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->isVisible());
    EXPECT_EQ(settings->timeoutBox()->text(), "30");
    EXPECT_EQ(settings->folderBox()->text().toStdString(), (work.path() / "images").string());
    EXPECT_EQ(settings->pieceSizeBox()->text(), "102400");
    // OK writes the expanded folder: the token is gone from the file.
    QTest::mouseClick(settings->okButton(), Qt::LeftButton);
    EXPECT_EQ(readFile(work.path() / "settings.dat"),
              (work.path() / "images").string() + "\r\n 30 \r\n 102400 \r\n");
}

}  // namespace
}  // namespace velnoria::testing
