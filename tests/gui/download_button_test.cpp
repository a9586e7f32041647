#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "shell/qt_status_view.h"
#include "tests/gui/main_window_fixture.h"

namespace velnoria::testing {
namespace {

namespace fs = std::filesystem;

const char* const kThumb1 = "http://s1.radikal.ru/i1/pic1t.jpg";
const char* const kImage1 = "http://s1.radikal.ru/i1/pic1.jpg";
const char* const kThumb2 = "http://s1.radikal.ru/i1/pic2t.jpg";
const char* const kImage2 = "http://s1.radikal.ru/i1/pic2.jpg";
const char* const kBigThumb = "http://www.hqcity.net/thumbs/big.jpg";
const char* const kBigImage = "http://www.hqcity.net/hq/big.jpg";

class DownloadButtonTest : public MainWindowTest {
  protected:
    DownloadButtonTest() {
        fs::create_directories(work.path() / "images");
        server.route(kImage1, Reply::generated(5000, 1));
        server.route(kImage2, Reply::generated(7000, 2));
    }

    void writeSettings(int pieceSize) {
        std::ofstream file(work.path() / "settings.dat", std::ios::binary);
        file << "CURDIR$\\images\r\n 30 \r\n " << pieceSize << " \r\n";
    }

    void openThread(const std::vector<std::string>& images) {
        server.route(server.url("/thread.html"), Reply::ok(pageWithImages(images), "text/html"));
        start();
        go(server.url("/thread.html"));
        ASSERT_TRUE(button("startDownload")->isEnabled());
    }

    QtStatusView::Window* statusWindow() { return window->statusView().window(); }
    QString log() { return statusWindow() ? statusWindow()->log()->toPlainText() : QString(); }
    int progress() { return statusWindow() ? statusWindow()->progressBar()->value() : -1; }

    std::string savedFolderUrl() {
        return QUrl::fromLocalFile(QString::fromStdString((work.path() / "images").string()))
            .toEncoded()
            .toStdString();
    }
};

TEST_F(DownloadButtonTest, AWholeJobFromTheButton) {
    writeSettings(102400);
    openThread({kThumb1, "http://other.example/logo.png", kThumb2});
    QString logAtEnd;
    QString counterAtEnd;
    bool statusShownAtEnd = false;
    answerer.onBox([&](const SeenBox&) {
        logAtEnd = log();
        counterAtEnd = statusWindow() ? statusWindow()->counter()->text() : QString();
        statusShownAtEnd = statusWindow() != nullptr && statusWindow()->isVisible();
    });
    QTest::mouseClick(button("startDownload"), Qt::LeftButton);

    ASSERT_EQ(answerer.boxes().size(), 1u);
    EXPECT_EQ(answerer.boxes()[0].title, "Finish");
    EXPECT_EQ(answerer.boxes()[0].text, "Task finished !\n 2 file(s) downloaded.");
    EXPECT_EQ(answerer.boxes()[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(logAtEnd,
              "Starting download process...\nDownloading file pic1.jpg...OK\n"
              "Downloading file pic2.jpg...OK\n");
    EXPECT_EQ(counterAtEnd, "Download in progress... 2 files finished.\n");
    EXPECT_TRUE(statusShownAtEnd);

    EXPECT_EQ(readFile(work.path() / "images" / "pic1.jpg"), generatedBytes(5000, 1));
    EXPECT_EQ(readFile(work.path() / "images" / "pic2.jpg"), generatedBytes(7000, 2));
    ASSERT_TRUE(RecordingOpener::instance().waitForOpened(1));
    EXPECT_EQ(RecordingOpener::instance().opened(), std::vector<std::string>{savedFolderUrl()});

    // The job leaves the button disabled and its window gone.
    EXPECT_FALSE(button("startDownload")->isEnabled());
    EXPECT_TRUE(statusWindow() == nullptr || !statusWindow()->isVisible());
    EXPECT_FALSE(window->state().jobRunning);
}

std::size_t filesIn(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

TEST_F(DownloadButtonTest, PauseContinueAndStopByTheirButtons) {
    writeSettings(2000);
    Reply slow = Reply::generated(400000, 3);
    slow.drip = Drip{2000, std::chrono::milliseconds{20}};
    server.route(kBigImage, slow);
    openThread({kThumb1, kBigThumb, kThumb2});

    int startsSeen = -1;
    int progressEnteringPause = -1;
    int progressLeavingPause = -1;
    QString counterInPause;
    QString captionInPause;
    bool stopEnabledInPause = true;
    int progressAtStop = -1;
    bool statusShownAtEnd = false;

    QTimer poll;
    int step = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (step == 0 && log().contains("Downloading file big.jpg...") && progress() > 0) {
            step = 1;
            // A click on "Start Download" while the job runs starts nothing.
            button("startDownload")->setEnabled(true);
            QTest::mouseClick(button("startDownload"), Qt::LeftButton);
            button("startDownload")->setEnabled(false);
            startsSeen = log().count("Starting download process...");

            QTimer::singleShot(300, [&] { progressEnteringPause = progress(); });
            QTimer::singleShot(900, [&] {
                progressLeavingPause = progress();
                counterInPause = statusWindow()->counter()->text();
                captionInPause = statusWindow()->pauseButton()->text();
                stopEnabledInPause = statusWindow()->stopButton()->isEnabled();
                QTest::mouseClick(statusWindow()->pauseButton(), Qt::LeftButton);  // Continue
            });
            QTest::mouseClick(statusWindow()->pauseButton(), Qt::LeftButton);  // held here
            step = 2;
            return;
        }
        if (step == 2 && progress() > progressLeavingPause + 4000) {
            step = 3;
            progressAtStop = progress();
            QTest::mouseClick(statusWindow()->stopButton(), Qt::LeftButton);
        }
    });
    poll.start(50);
    answerer.onBox([&](const SeenBox&) {
        poll.stop();
        statusShownAtEnd = statusWindow() != nullptr && statusWindow()->isVisible();
    });
    QTest::mouseClick(button("startDownload"), Qt::LeftButton);
    poll.stop();

    EXPECT_EQ(startsSeen, 1);
    EXPECT_GT(progressEnteringPause, 0);
    EXPECT_EQ(progressLeavingPause, progressEnteringPause) << "the job moved while paused";
    EXPECT_EQ(counterInPause, "Paused");
    EXPECT_EQ(captionInPause, "&Continue");
    EXPECT_FALSE(stopEnabledInPause);
    EXPECT_GT(progressAtStop, progressLeavingPause);

    ASSERT_EQ(answerer.boxes().size(), 1u);
    EXPECT_EQ(answerer.boxes()[0].title, "Finish");
    EXPECT_EQ(answerer.boxes()[0].text, "Task finished !\n 1 file(s) downloaded.");
    EXPECT_TRUE(statusShownAtEnd);
    // The stop ended the job before the third image; the one cut short is not logged and
    // leaves nothing, not even its temporary file: the first image alone is there.
    EXPECT_FALSE(fs::exists(work.path() / "images" / "pic2.jpg"));
    EXPECT_FALSE(fs::exists(work.path() / "images" / "big.jpg"));
    EXPECT_EQ(filesIn(work.path() / "images"), 1u);
    EXPECT_FALSE(fs::exists(work.path() / "failed.txt"));
    EXPECT_EQ(window->state().runState, RunState::Running);
    ASSERT_TRUE(RecordingOpener::instance().waitForOpened(1));
    EXPECT_EQ(RecordingOpener::instance().opened(), std::vector<std::string>{savedFolderUrl()});
}

TEST_F(DownloadButtonTest, AJobOnAPageWithoutThumbnails) {
    writeSettings(102400);
    openThread({"http://other.example/a.png"});
    QTest::mouseClick(button("startDownload"), Qt::LeftButton);
    ASSERT_EQ(answerer.boxes().size(), 1u);
    EXPECT_EQ(answerer.boxes()[0].text, "Task finished !\nNo file downloaded.");
    QTest::qWait(200);
    EXPECT_TRUE(RecordingOpener::instance().opened().empty());
    // Go enables it again.
    go(server.url("/thread.html"));
    EXPECT_TRUE(button("startDownload")->isEnabled());
}

long long savedBytes(const fs::path& folder) {
    long long total = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        total += static_cast<long long>(entry.file_size());
    }
    return total;
}

TEST_F(DownloadButtonTest, DownloadsAtOncePauseHoldsAndStopCancelsEveryTransfer) {
    writeSettings(102400);
    std::vector<std::string> thumbs;
    for (int host = 1; host <= 4; ++host) {
        const std::string base =
            "http://s" + std::to_string(host) + ".radikal.ru/i1/big" + std::to_string(host);
        Reply slow = Reply::generated(400000, static_cast<std::uint32_t>(host));
        slow.drip = Drip{2000, std::chrono::milliseconds{20}};
        server.route(base + ".jpg", slow);
        thumbs.push_back(base + "t.jpg");
    }
    openThread(thumbs);
    window->state().choices.downloadsAtOnce = 4;
    const fs::path images = work.path() / "images";

    long long enteringPause = -1;
    long long leavingPause = -1;
    long long atStop = -1;
    long long afterStop = -1;
    int barMaximum = -1;
    QTimer poll;
    int step = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        // The four downloads land in temporary files beside their targets.
        if (step == 0 && savedBytes(images) > 20000 && filesIn(images) == 4) {
            // All four at once, the bar counting the job's files.
            step = 1;
            barMaximum = statusWindow()->progressBar()->maximum();
            QTimer::singleShot(300, [&] { enteringPause = savedBytes(images); });
            QTimer::singleShot(900, [&] {
                leavingPause = savedBytes(images);
                QTest::mouseClick(statusWindow()->pauseButton(), Qt::LeftButton);  // Continue
            });
            QTest::mouseClick(statusWindow()->pauseButton(), Qt::LeftButton);  // held here
            step = 2;
            return;
        }
        if (step == 2 && savedBytes(images) > leavingPause + 20000) {
            step = 3;
            atStop = savedBytes(images);
            QTest::mouseClick(statusWindow()->stopButton(), Qt::LeftButton);
        }
    });
    poll.start(50);
    answerer.onBox([&](const SeenBox&) { poll.stop(); });
    const auto start = std::chrono::steady_clock::now();
    QTest::mouseClick(button("startDownload"), Qt::LeftButton);
    poll.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    QTest::qWait(300);
    afterStop = savedBytes(images);

    EXPECT_EQ(barMaximum, 4);
    EXPECT_GT(enteringPause, 0);
    EXPECT_EQ(leavingPause, enteringPause) << "a transfer moved while paused";
    EXPECT_GT(atStop, leavingPause);
    // Every transfer ended at the stop: nothing of the four stays, not even a temporary file,
    // and nothing arrives afterwards.
    EXPECT_EQ(afterStop, 0);
    EXPECT_EQ(filesIn(images), 0u);
    ASSERT_EQ(answerer.boxes().size(), 1u);
    EXPECT_EQ(answerer.boxes()[0].text, "Task finished !\nNo file downloaded.");
    EXPECT_FALSE(fs::exists(work.path() / "failed.txt"));
    // Each full-size image asked for once (the browser asked for the thumbnails): none was
    // started again after the stop.
    int imageRequests = 0;
    for (const Request& request : server.requests()) {
        if (request.url.find(".radikal.ru/") != std::string::npos &&
            !request.url.ends_with("t.jpg")) {
            ++imageRequests;
        }
    }
    EXPECT_EQ(imageRequests, 4);
    EXPECT_EQ(window->state().runState, RunState::Running);
}

TEST_F(DownloadButtonTest, NextPagesLoadInTheBrowser) {
    writeSettings(102400);
    const std::string page2 = server.url("/page2.html");
    server.route(page2, Reply::ok(pageWithImages({kThumb2}), "text/html"));
    std::string page1 = pageWithImages({kThumb1});
    page1.replace(page1.find("<body>"), 6, "<body><a rel=\"next\" href=\"page2.html\">next</a>");
    server.route(server.url("/thread.html"), Reply::ok(page1, "text/html"));
    start();
    go(server.url("/thread.html"));
    window->state().choices.followNextPages = true;
    QString logAtEnd;
    answerer.onBox([&](const SeenBox&) { logAtEnd = log(); });
    QTest::mouseClick(button("startDownload"), Qt::LeftButton);

    EXPECT_EQ(logAtEnd, QString::fromStdString("Starting download process...\n"
                                               "Downloading file pic1.jpg...OK\n"
                                               "Reading page 2: " +
                                               page2 +
                                               "\n"
                                               "Downloading file pic2.jpg...OK\n"));
    ASSERT_EQ(answerer.boxes().size(), 1u);
    EXPECT_EQ(answerer.boxes()[0].text, "Task finished !\n 2 file(s) downloaded.");
    // The browser shows the page it read last.
    EXPECT_EQ(addressBox()->text().toStdString(), page2);
    EXPECT_EQ(readFile(work.path() / "images" / "pic2.jpg"), generatedBytes(7000, 2));
}

// The longest time the window's event loop went without a turn while `run` ran: a timer that
// wants a turn every 2 ms notes the gaps between its turns.
std::chrono::milliseconds longestHold(const std::function<void()>& run) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point last = Clock::now();
    Clock::duration longest{};
    QTimer tick;
    tick.setInterval(2);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start();
    run();
    tick.stop();
    return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
}

// Whatever the job waits for, the window gets a turn at least every 50 ms: a large image without
// a length, a next page loading while files download at once, a service page for every image.
TEST_F(DownloadButtonTest, TheWindowIsNeverHeldLongerThan50Milliseconds) {
    writeSettings(102400);
    Reply whole = Reply::generated(100u << 20, 4);
    whole.autoContentLength = false;
    whole.closeConnection = true;
    server.route(kBigImage, whole);
    const std::string page2 = server.url("/page2.html");
    server.route(page2, Reply::ok(pageWithImages({kThumb2}), "text/html"));
    std::vector<std::string> slowThumbs;
    for (int host = 1; host <= 4; ++host) {
        const std::string base = "http://s" + std::to_string(host) + ".radikal.ru/i2/slow";
        Reply slow = Reply::generated(200000, static_cast<std::uint32_t>(host));
        slow.drip = Drip{20000, std::chrono::milliseconds{20}};
        server.route(base + ".jpg", slow);
        slowThumbs.push_back(base + "t.jpg");
    }
    std::string withNext = pageWithImages(slowThumbs);
    withNext.replace(withNext.find("<body>"), 6,
                     "<body><a rel=\"next\" href=\"page2.html\">next</a>");
    server.route(server.url("/next.html"), Reply::ok(withNext, "text/html"));
    std::vector<std::string> havens;
    for (int i = 1; i <= 50; ++i) {
        const std::string id = std::to_string(i) + "_x.jpg";
        server.route("http://img9.imagehaven.net/img.php?id=" + id,
                     Reply::ok("<html><body>\n<img src='./images/" + id + "'>\n</body></html>"));
        server.route("http://img9.imagehaven.net/images/" + id,
                     Reply::generated(3000, static_cast<std::uint32_t>(i)));
        havens.push_back("http://img9.imagehaven.net/img/thumbs/" + id);
    }
    server.route(server.url("/big.html"), Reply::ok(pageWithImages({kBigThumb}), "text/html"));
    server.route(server.url("/havens.html"), Reply::ok(pageWithImages(havens), "text/html"));
    start();
    // What the window's loop sees on this machine without a job, for the figures.
    const auto idle = longestHold([] { QTest::qWait(300); });

    const struct {
        const char* what;
        std::string page;
        int atOnce;
        bool nextPages;
        int files;
    } cases[] = {
        {"100 MB without a length", server.url("/big.html"), 1, false, 1},
        {"a next page while four files download", server.url("/next.html"), 4, true, 5},
        {"50 service pages", server.url("/havens.html"), 1, false, 50},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(work.path() / "images");
        fs::create_directories(work.path() / "images");
        go(c.page);
        window->state().choices.downloadsAtOnce = c.atOnce;
        window->state().choices.followNextPages = c.nextPages;
        const std::size_t boxesBefore = answerer.boxes().size();
        const auto held =
            longestHold([&] { QTest::mouseClick(button("startDownload"), Qt::LeftButton); });
        ASSERT_EQ(answerer.boxes().size(), boxesBefore + 1);
        EXPECT_EQ(answerer.boxes().back().text.toStdString(),
                  "Task finished !\n " + std::to_string(c.files) + " file(s) downloaded.");
        std::printf("window held at most %lld ms (idle %lld ms): %s\n",
                    static_cast<long long>(held.count()), static_cast<long long>(idle.count()),
                    c.what);
        // What the machine itself holds the loop for is not the program's.
        EXPECT_LT(held, std::chrono::milliseconds(50) + idle);
        if (c.files == 1) {
            EXPECT_EQ(fs::file_size(work.path() / "images" / "big.jpg"), 100u << 20);
        }
    }
}

TEST_F(DownloadButtonTest, ASaveFolderThatCannotTakeAFileIsSaidAndNoJobRuns) {
    const std::string missing = (work.path() / "gone" / "pictures").string();
    std::ofstream(work.path() / "settings.dat", std::ios::binary)
        << missing << "\r\n 30 \r\n 102400 \r\n";
    openThread({kThumb1});
    const std::size_t boxesBefore = answerer.boxes().size();  // start-up's own
    QTest::mouseClick(button("startDownload"), Qt::LeftButton);

    ASSERT_EQ(answerer.boxes().size(), boxesBefore + 1);
    EXPECT_EQ(answerer.boxes().back().title, "Error");
    EXPECT_EQ(
        answerer.boxes().back().text,
        QString::fromStdString("Cannot save files in " + missing + ": No such file or directory"));
    EXPECT_EQ(answerer.boxes().back().icon, QMessageBox::Critical);
    EXPECT_TRUE(statusWindow() == nullptr || !statusWindow()->isVisible());
    EXPECT_TRUE(server.requestsFor(kImage1).empty());
    // Nothing ran: once the folder is set right, the same page can be downloaded.
    EXPECT_TRUE(button("startDownload")->isEnabled());
}

TEST_F(DownloadButtonTest, TheRulesFileIsReadAtTheStartAndItsProblemsShown) {
    writeSettings(102400);
    // One broken rule and one good one, which takes the first Radikal thumbnail over; linked
    // images on. The choices beside settings.dat are read at start-up.
    writeFile(work.path() / "rules.toml",
              "[[rule]]\nname = \"broken\"\nmatch = 'x('\nfull = 'http://x'\n\n"
              "[[rule]]\nname = \"mine\"\nmatch = 'radikal\\.ru/i1/pic1t'\n"
              "full = 'http://s1.radikal.ru/i1/pic2.jpg'\nfile = 'by-rule.jpg'\n");
    writeFile(work.path() / "choices.conf", "rules-file = rules.toml\nlinked-images = true\n");
    server.route(
        server.url("/linked.html"),
        Reply::ok(std::string("<html><body>") + "<img src=\"" + kThumb1 + "\">" + "<a href=\"" +
                      kImage1 + "\"><img src=\"/small/x.gif\"></a>" + "</body></html>",
                  "text/html"));
    start();
    go(server.url("/linked.html"));
    ASSERT_TRUE(button("startDownload")->isEnabled());
    bool statusShownAtError = true;
    answerer.onBox([&](const SeenBox& box) {
        if (box.title == "Error") {
            statusShownAtError = statusWindow() != nullptr && statusWindow()->isVisible();
        }
    });
    QTest::mouseClick(button("startDownload"), Qt::LeftButton);

    ASSERT_EQ(answerer.boxes().size(), 2u);
    EXPECT_EQ(answerer.boxes()[0].title, "Error");
    EXPECT_EQ(answerer.boxes()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(answerer.boxes()[0].text,
              "The rules file has problems; the rules with problems are left out:\n\n"
              "rules.toml:3:10: `match` is no pattern RE2 takes: missing ): x(");
    EXPECT_FALSE(statusShownAtError);  // before the job's window
    EXPECT_EQ(answerer.boxes()[1].text, "Task finished !\n 2 file(s) downloaded.");
    EXPECT_EQ(readFile(work.path() / "images" / "by-rule.jpg"), generatedBytes(7000, 2));
    EXPECT_EQ(readFile(work.path() / "images" / "pic1.jpg"), generatedBytes(5000, 1));
    EXPECT_EQ(server.requestsFor(kImage1).size(), 1u);
}

TEST_F(DownloadButtonTest, AThreadRunAgainGoesOnFromItsLastPageInTheBrowser) {
    writeSettings(102400);
    writeFile(work.path() / "choices.conf", "follow-next-pages = true\nremember-saved = true\n");
    const std::string page2 = server.url("/page2.html");
    const std::string page3 = server.url("/page3.html");
    const auto withNext = [](std::string html, const char* next) {
        return html.replace(html.find("<body>"), 6,
                            "<body><a rel=\"next\" href=\"" + std::string(next) + "\">next</a>");
    };
    server.route(page2, Reply::ok(withNext(pageWithImages({}), "page3.html"), "text/html"));
    server.route(page3, Reply::ok(pageWithImages({kThumb2}), "text/html"));
    server.route(server.url("/thread.html"),
                 Reply::ok(withNext(pageWithImages({kThumb1}), "page2.html"), "text/html"));
    start();
    go(server.url("/thread.html"));
    QTest::mouseClick(button("startDownload"), Qt::LeftButton);
    ASSERT_EQ(answerer.boxes().size(), 1u);
    EXPECT_EQ(answerer.boxes()[0].text, "Task finished !\n 2 file(s) downloaded.");

    server.clearRequests();
    go(server.url("/thread.html"));
    QString logAtEnd;
    answerer.onBox([&](const SeenBox&) { logAtEnd = log(); });
    QTest::mouseClick(button("startDownload"), Qt::LeftButton);
    EXPECT_EQ(logAtEnd, QString::fromStdString("Starting download process...\n"
                                               "Downloading file pic1.jpg...ALREADY SAVED\n"
                                               "Reading page 3: " +
                                               page3 +
                                               "\n"
                                               "Downloading file pic2.jpg...ALREADY SAVED\n"));
    ASSERT_EQ(answerer.boxes().size(), 2u);
    EXPECT_EQ(answerer.boxes()[1].text,
              "Task finished !\nNo file downloaded. 2 file(s) already saved.");
    // The browser went straight to the last page read before.
    EXPECT_EQ(addressBox()->text().toStdString(), page3);
    EXPECT_TRUE(server.requestsFor(page2).empty());
    EXPECT_TRUE(server.requestsFor(kImage1).empty());
    EXPECT_TRUE(server.requestsFor(kImage2).empty());
}

TEST_F(DownloadButtonTest, AnArchiveThatCannotBeUsedIsSaidAndNoJobRuns) {
    writeSettings(102400);
    writeFile(work.path() / "choices.conf", "remember-saved = true\n");
    writeFile(work.path() / "archive.sqlite", "my own notes\n");
    openThread({kThumb1});
    const std::size_t boxesBefore = answerer.boxes().size();
    QTest::mouseClick(button("startDownload"), Qt::LeftButton);

    ASSERT_EQ(answerer.boxes().size(), boxesBefore + 1);
    EXPECT_EQ(answerer.boxes().back().title, "Error");
    EXPECT_EQ(answerer.boxes().back().text,
              QString::fromStdString(
                  "Archive cannot be used: " + (work.path() / "archive.sqlite").string() +
                  " is not an SQLite database"));
    EXPECT_EQ(answerer.boxes().back().icon, QMessageBox::Critical);
    EXPECT_EQ(readFile(work.path() / "archive.sqlite"), "my own notes\n");
    EXPECT_TRUE(server.requestsFor(kImage1).empty());
    EXPECT_TRUE(statusWindow() == nullptr || !statusWindow()->isVisible());
    EXPECT_TRUE(button("startDownload")->isEnabled());
}

TEST_F(DownloadButtonTest, AWatchedThreadFindsANewImageAtItsNextCheckAndPauseHoldsTheCheck) {
    writeSettings(102400);
    writeFile(work.path() / "choices.conf", "watch-minutes = 1\n");
    watchdog.start(115000);  // the check comes a minute after the first round
    openThread({kThumb1});
    const std::string thread = server.url("/thread.html");

    int step = 0;
    QString firstWait;
    QString secondWait;
    QString counterInPause;
    std::size_t readsWhilePaused = 99;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (step == 0 && log().contains("Next check at")) {
            step = 1;
            firstWait = log();
            // An image added to the thread meanwhile.
            server.route(thread, Reply::ok(pageWithImages({kThumb1, kThumb2}), "text/html"));
            const std::size_t readsBefore = server.requestsFor(thread).size();
            QTimer::singleShot(62000, [&, readsBefore] {
                readsWhilePaused = server.requestsFor(thread).size() - readsBefore;
                counterInPause = statusWindow()->counter()->text();
                QTest::mouseClick(statusWindow()->pauseButton(), Qt::LeftButton);  // Continue
            });
            // Held here, past the time of the check.
            QTest::mouseClick(statusWindow()->pauseButton(), Qt::LeftButton);
            step = 2;
            return;
        }
        if (step == 2 && log().contains("pic2.jpg...OK") && log().contains("Next check at")) {
            step = 3;
            secondWait = log();
            QTest::mouseClick(statusWindow()->stopButton(), Qt::LeftButton);
        }
    });
    poll.start(50);
    QTest::mouseClick(button("startDownload"), Qt::LeftButton);  // returns once Stop ended it
    poll.stop();

    ASSERT_EQ(step, 3);
    const QRegularExpression firstRound(
        "^Starting download process...\nDownloading file pic1.jpg...OK\n"
        "Task finished !\n 1 file\\(s\\) downloaded.\n"
        " 1 new file\\(s\\). Next check at \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d.\n$");
    EXPECT_TRUE(firstRound.match(firstWait).hasMatch()) << firstWait.toStdString();
    EXPECT_EQ(readsWhilePaused, 0u);
    EXPECT_EQ(counterInPause, "Paused");
    const QRegularExpression secondRound(
        "^Starting download process...\nDownloading file pic1.jpg...ALREADY SAVED\n"
        "Downloading file pic2.jpg...OK\n"
        "Task finished !\n 1 file\\(s\\) downloaded. 1 file\\(s\\) already saved.\n"
        " 1 new file\\(s\\). Next check at [-0-9: ]{19}.\n$");
    EXPECT_TRUE(secondRound.match(secondWait).hasMatch()) << secondWait.toStdString();
    // No box between the rounds nor at the end: the watching ended by Stop.
    EXPECT_TRUE(answerer.boxes().empty());
    EXPECT_TRUE(statusWindow() == nullptr || !statusWindow()->isVisible());
    EXPECT_EQ(server.requestsFor(kImage1).size(), 1u);
    EXPECT_EQ(readFile(work.path() / "images" / "pic2.jpg"), generatedBytes(7000, 2));
    EXPECT_EQ(window->state().runState, RunState::Running);
    EXPECT_FALSE(window->state().jobRunning);
}

}  // namespace
}  // namespace velnoria::testing
