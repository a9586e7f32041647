#include <sys/resource.h>

#include <QCheckBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <map>

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

    // The main window's controls, by name, and where they are now.
    std::map<std::string, QRect> places() {
        std::map<std::string, QRect> found;
        for (const char* name :
             {"startDownload", "back", "stop", "forward", "checkUpdate", "logo", "settings",
              "about", "exit", "statusLine", "addressBox", "go", "browser"}) {
            found[name] = control<QWidget>(name)->geometry();
        }
        return found;
    }

    // Each control has followed the window's growth (dx, dy) from the first places as its edge
    // says: the buttons on the right move, the boxes widen, the browser takes the rest.
    void expectGrownBy(const std::map<std::string, QRect>& firstPlaces, int dx, int dy) {
        const std::map<std::string, QRect> growth = {
            {"settings", {dx, 0, 0, 0}},   {"about", {dx, 0, 0, 0}},
            {"exit", {dx, 0, 0, 0}},       {"go", {dx, 0, 0, 0}},
            {"statusLine", {0, 0, dx, 0}}, {"addressBox", {0, 0, dx, 0}},
            {"browser", {0, 0, dx, dy}},
        };
        for (const auto& [name, place] : firstPlaces) {
            QRect expected = place;
            if (const auto found = growth.find(name); found != growth.end()) {
                const QRect& g = found->second;
                expected = QRect(expected.topLeft() + g.topLeft(), expected.size() + g.size());
            }
            EXPECT_EQ(control<QWidget>(name.c_str())->geometry(), expected)
                << name << " " << dx << "x" << dy;
        }
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
        // The captions as they read, with an access key where they have a letter for one.
        {"startDownload", 480, 360, 2052, 492, "&Start Download", ""},
        {"back", 2760, 360, 492, 492, "<<", "Go back one page"},
        {"stop", 3480, 360, 492, 492, "&X", "Stop"},
        {"forward", 4200, 360, 492, 492, ">>", "Go forward one page"},
        {"checkUpdate", 4920, 360, 492, 492, "&U", "Check update"},
        {"logo", 5640, 360, 1320, 492, nullptr, "Visit the Velnoria Morvath home page"},
        {"settings", 7200, 360, 1452, 492, "Se&ttings", ""},
        {"about", 8880, 360, 1452, 492, "&About", ""},
        {"exit", 10560, 360, 1452, 492, "&Exit", ""},
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
    // The window's own controls first, the page after them.
    EXPECT_EQ(order,
              (std::vector<QString>{"addressBox", "go", "startDownload", "back", "stop", "forward",
                                    "checkUpdate", "settings", "about", "exit", "browser"}));
    EXPECT_TRUE(button("go")->isDefault());
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(64, 64, 64));
    // It opens at its first size, and may grow from there.
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window->minimumSize(), QSize(px(12168), px(8736)));
    EXPECT_GT(window->maximumWidth(), 2000);
    EXPECT_GT(window->maximumHeight(), 2000);
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

    // The keypad's Enter in the address box comes with the keypad's modifier.
    const std::string thread = server.url("/thread.html");
    addressBox()->setText(QString::fromStdString(thread));
    addressBox()->setFocus();
    QTest::keyClick(addressBox(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(server.requestsFor(thread).size(), 1u);
    EXPECT_EQ(window->browser()->location().toStdString(), thread);
    EXPECT_EQ(statusLine()->text(), "Loaded.");
}

// The name of the control that has the focus; "browser" for anything inside the browser.
QString focusedControl(MainWindow& window) {
    QWidget* widget = window.focusWidget();
    if (widget == nullptr) return {};
    if (window.browser()->isAncestorOf(widget)) return QStringLiteral("browser");
    return widget->objectName();
}

TEST_F(NavigationTest, TabGoesThroughTheWindowsOwnControlsBeforeThePage) {
    start();
    go(server.url("/thread.html"));  // a page with one link
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    addressBox()->setFocus();
    std::vector<QString> expected;
    for (const char* name : {"go", "startDownload", "back", "stop", "forward", "checkUpdate",
                             "settings", "about", "exit"}) {
        if (button(name)->isEnabled()) expected.push_back(QString::fromLatin1(name));
    }
    expected.push_back(QStringLiteral("browser"));
    std::vector<QString> visited;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
        visited.push_back(focusedControl(*window));
    }
    EXPECT_EQ(visited, expected);

    // The page's link, and then out of the page to the address box.
    QTest::qWait(500);
    QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(waitUntil([&] { return focusedControl(*window) == "addressBox"; },
                          std::chrono::seconds{10}))
        << focusedControl(*window).toStdString();
    // Back from the address box into the page.
    QTest::keyClick(window->focusWidget(), Qt::Key_Backtab);
    EXPECT_TRUE(
        waitUntil([&] { return focusedControl(*window) == "browser"; }, std::chrono::seconds{10}));
}

TEST_F(NavigationTest, KeysGoBackForwardReloadOpenAndClose) {
    start();
    const std::string thread = server.url("/thread.html");
    const std::string next = server.url("/next.html");
    go(thread);
    go(next);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    const auto boxReads = [&](const std::string& address) {
        return waitUntil([&] { return addressBox()->text().toStdString() == address; });
    };

    addressBox()->setFocus();
    QTest::keyClick(addressBox(), Qt::Key_Left, Qt::AltModifier);
    EXPECT_TRUE(boxReads(thread));
    QTest::keyClick(addressBox(), Qt::Key_Right, Qt::AltModifier);
    EXPECT_TRUE(boxReads(next));
    const std::size_t asked = server.requestsFor(next).size();
    QTest::keyClick(addressBox(), Qt::Key_F5);
    EXPECT_TRUE(waitUntil([&] { return server.requestsFor(next).size() == asked + 1; }));

    // Ctrl+L: to the address box, its text selected to be typed over.
    button("about")->setFocus();
    QTest::keyClick(button("about"), Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(window->focusWidget(), addressBox());
    EXPECT_EQ(addressBox()->selectedText().toStdString(), next);

    // Access keys press their buttons (as a click that shows, a moment later); Escape closes
    // the dialogs, Settings without saving.
    QTest::keyClick(addressBox(), Qt::Key_A, Qt::AltModifier);
    ASSERT_TRUE(waitUntil([&] { return window->aboutDialog() != nullptr; }));
    EXPECT_TRUE(window->aboutDialog()->isVisible());
    QTest::keyClick(window->aboutDialog()->text(), Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return window->aboutDialog() == nullptr; }));

    // Without a window manager nothing gives the main window back the keyboard.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(addressBox(), Qt::Key_T, Qt::AltModifier);
    ASSERT_TRUE(waitUntil([&] { return window->settingsDialog() != nullptr; }));
    EXPECT_TRUE(window->settingsDialog()->isVisible());
    window->settingsDialog()->timeoutBox()->setText("45");
    QTest::keyClick(window->settingsDialog()->timeoutBox(), Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return window->settingsDialog() == nullptr; }));
    EXPECT_EQ(window->state().settings.timeoutSeconds, 30);
    EXPECT_EQ(readFile(work.path() / "settings.dat").find(" 45 "), std::string::npos);

    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(addressBox(), Qt::Key_X, Qt::AltModifier);
    EXPECT_TRUE(waitUntil([&] { return statusLine()->text() == "Page stopped."; }));
}

TEST_F(NavigationTest, TheWindowGrowsAndItsControlsKeepToTheirEdges) {
    start();
    const QSize first = window->size();
    const std::map<std::string, QRect> firstPlaces = places();
    window->resize(first + QSize(300, 200));
    ASSERT_TRUE(waitUntil([&] { return window->size() == first + QSize(300, 200); }));
    expectGrownBy(firstPlaces, 300, 200);
    // Never smaller than at first.
    window->resize(first - QSize(100, 100));
    QTest::qWait(300);
    EXPECT_EQ(window->size(), first);
    expectGrownBy(firstPlaces, 0, 0);
}

// Only a window manager maximises a window: openbox runs for this test.
TEST_F(NavigationTest, MaximisedByTheWindowManagerTheControlsKeepToTheirEdges) {
    start();
    const QSize first = window->size();
    const std::map<std::string, QRect> firstPlaces = places();
    ScopedWindowManager windowManager;
    ASSERT_TRUE(windowManager.running()) << windowManager.problem();
    window->showMaximized();
    ASSERT_TRUE(
        waitUntil([&] { return window->isMaximized() && window->width() > first.width() + 200; }));
    expectGrownBy(firstPlaces, window->width() - first.width(), window->height() - first.height());
    window->showNormal();
    ASSERT_TRUE(waitUntil([&] { return !window->isMaximized() && window->size() == first; }));
    expectGrownBy(firstPlaces, 0, 0);
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
    // Go's wait has had its passes since, and the page never came: the stop's text stays.
    EXPECT_EQ(statusLine()->text(), "Page stopped.");
    QTest::qWait(500);
    EXPECT_EQ(statusLine()->text(), "Page stopped.");
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
    // Greyed while there is nothing to go to; pressed all the same, they do nothing.
    EXPECT_FALSE(button("back")->isEnabled());
    EXPECT_FALSE(button("forward")->isEnabled());
    QTest::mouseClick(button("back"), Qt::LeftButton);
    QTest::mouseClick(button("forward"), Qt::LeftButton);
    QTest::qWait(300);
    EXPECT_TRUE(answerer.boxes().empty());
    EXPECT_EQ(statusLine()->text(), "");
    EXPECT_EQ(addressBox()->text(), "");
    EXPECT_FALSE(button("startDownload")->isEnabled());

    go(server.url("/thread.html"));
    go(server.url("/next.html"));
    EXPECT_TRUE(waitUntil([&] { return button("back")->isEnabled(); }));
    EXPECT_FALSE(button("forward")->isEnabled());
    statusLine()->setText("unchanged");
    QTest::mouseClick(button("back"), Qt::LeftButton);
    // The box follows through the browser's document-complete notice.
    ASSERT_TRUE(waitUntil(
        [&] { return addressBox()->text().toStdString() == server.url("/thread.html"); }));
    EXPECT_TRUE(waitUntil([&] { return button("forward")->isEnabled(); }));
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
    // Centred on the main window.
    EXPECT_LE(
        (settings->frameGeometry().center() - window->frameGeometry().center()).manhattanLength(),
        4);
    EXPECT_EQ(settings->timeoutBox()->text(), "30");
    EXPECT_EQ(settings->folderBox()->text().toStdString(), (work.path() / "images").string());
    EXPECT_EQ(settings->pieceSizeBox()->text(), "102400");
    settings->rememberSavedBox()->click();
    settings->folderTemplateBox()->setText("{host}");
    settings->nameTemplateBox()->setText("{index:03}.{ext}");
    settings->watchMinutesBox()->setValue(15);
    // OK writes the expanded folder: the token is gone from the file.
    QTest::mouseClick(settings->okButton(), Qt::LeftButton);
    EXPECT_EQ(readFile(work.path() / "settings.dat"),
              (work.path() / "images").string() + "\r\n 30 \r\n 102400 \r\n");

    // The next start shows the choices saved.
    window.reset();
    start();
    QTest::mouseClick(button("settings"), Qt::LeftButton);
    settings = window->settingsDialog();
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->rememberSavedBox()->isChecked());
    EXPECT_EQ(settings->folderTemplateBox()->text(), "{host}");
    EXPECT_EQ(settings->nameTemplateBox()->text(), "{index:03}.{ext}");
    EXPECT_EQ(settings->watchMinutesBox()->value(), 15);
}

}  // namespace
}  // namespace velnoria::testing
