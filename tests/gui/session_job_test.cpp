// The desktop job with the browser's session: a forum that shows its thread and its attachments
// only to members, logged in to by typing into the page in the embedded browser, and image hosts
// that check the Referer and the User-Agent.

#include <QMessageBox>
#include <QNetworkCookie>
#include <QTest>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <atomic>
#include <chrono>
#include <filesystem>

#include "platform/qt/qt_cookie_mirror.h"
#include "shell/browser_profile.h"
#include "shell/settings_dialog.h"
#include "shell/web_browser.h"
#include "tests/gui/main_window_fixture.h"

namespace velnoria::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* const kSessionCookie = "sid=s3ss10n";
const char* const kRefererHostImage = "http://pics.example/full/2.jpg";
const char* const kAgentHostImage = "http://agent.example/full/3.jpg";

bool hasSession(const Request& request) {
    return request.header("Cookie").find(kSessionCookie) != std::string::npos;
}

class SessionJobTest : public MainWindowTest {
  protected:
    SessionJobTest() {
        fs::create_directories(work.path() / "images");
        // The attachments are linked from their thumbnails: saved as linked images.
        writeFile(work.path() / "choices.conf", "linked-images = true\n");
        server.route(forum("/login"), [this](const Request& request) {
            if (request.method != "POST") {
                return Reply::ok(
                    "<html><body><form method=post action=\"/forum/login\">"
                    "<input name=user autofocus><input name=pass type=password>"
                    "<input type=submit value=\"Log in\"></form></body></html>",
                    "text/html");
            }
            if (request.body != "user=ann&pass=secret") return Reply::withStatus(403);
            Reply welcome = Reply::redirect(forum("/thread"), 303);
            welcome.headers.emplace_back("Set-Cookie",
                                         std::string(kSessionCookie) + "; Path=/; HttpOnly");
            return welcome;
        });
        server.route(forum("/thread"), [this](const Request& request) {
            if (!hasSession(request)) return Reply::withStatus(403, "members only");
            std::string page = "<html><body><p>Thread</p>";
            for (const std::string& image : {forum("/attach/1.jpg"), std::string(kRefererHostImage),
                                             std::string(kAgentHostImage)}) {
                page += "<a href=\"" + image + "\"><img src=\"" + image + "?thumb\"></a>";
            }
            return Reply::ok(page + "</body></html>", "text/html");
        });
        server.route(forum("/attach/1.jpg"), [this](const Request& request) {
            firstRequest.store(Clock::now().time_since_epoch().count());
            return hasSession(request) ? Reply::generated(3000, 1) : Reply::withStatus(403);
        });
        // A host that answers only a page of the forum, by its origin (another site).
        server.route(kRefererHostImage, [this](const Request& request) {
            return request.header("Referer") == server.url("/") ? Reply::generated(4000, 2)
                                                                : Reply::withStatus(403);
        });
        // A host that answers only the browser the page was seen in.
        server.route(kAgentHostImage, [this](const Request& request) {
            return request.header("User-Agent") == browserAgent ? Reply::generated(5000, 3)
                                                                : Reply::withStatus(403);
        });
    }

    std::string forum(const std::string& path) const { return server.url("/forum" + path); }

    // Types the login into the forum's form, as a member does, and waits for the thread.
    void logIn() {
        go(forum("/login"));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QWidget* page = window->browser()->view()->focusProxy();
        ASSERT_NE(page, nullptr);
        // Into the name field, the page's first one.
        QTest::mouseClick(page, Qt::LeftButton, {}, QPoint(30, 18));
        QTest::keyClicks(page, "ann");
        QTest::keyClick(page, Qt::Key_Tab);
        QTest::keyClicks(page, "secret");
        QTest::keyClick(page, Qt::Key_Return);
        ASSERT_TRUE(waitUntil([&] {
            return addressBox()->text().toStdString() == forum("/thread") &&
                   window->browser()->readyState() == WebBrowser::kComplete;
        }));
    }

    std::vector<std::string> saved() { return namesIn(work.path() / "images"); }
    // Every file of the thread, each with its bytes.
    bool savedWhole() {
        const fs::path images = work.path() / "images";
        return saved() == std::vector<std::string>{"1.jpg", "2.jpg", "3.jpg"} &&
               readFile(images / "1.jpg") == generatedBytes(3000, 1) &&
               readFile(images / "2.jpg") == generatedBytes(4000, 2) &&
               readFile(images / "3.jpg") == generatedBytes(5000, 3);
    }

    void startDownload() {
        for (const std::string& name : saved()) fs::remove(work.path() / "images" / name);
        firstRequest.store(0);
        clicked = Clock::now();
        QTest::mouseClick(button("startDownload"), Qt::LeftButton);
    }

    std::string browserAgent;
    std::atomic<Clock::rep> firstRequest{0};
    Clock::time_point clicked;
};

TEST_F(SessionJobTest, ALoginMadeInTheBrowserReachesEveryRequestOfTheJob) {
    start();
    browserAgent = window->browserProfile().profile()->httpUserAgent().toStdString();
    ASSERT_NO_FATAL_FAILURE(logIn());
    startDownload();
    ASSERT_FALSE(answerer.boxes().empty());
    EXPECT_EQ(answerer.boxes().back().text.toStdString(),
              "Task finished !\n 3 file(s) downloaded.");
    EXPECT_TRUE(savedWhole());
    // The cookie never goes to a host it is not for.
    for (const std::string& image :
         {std::string(kRefererHostImage), std::string(kAgentHostImage)}) {
        for (const Request& request : server.requestsFor(image)) EXPECT_FALSE(hasSession(request));
    }

    // The program starts again in the same home: the login holds.
    window.reset();
    start();
    go(forum("/thread"));
    ASSERT_FALSE(server.requestsFor(forum("/thread")).empty());
    EXPECT_TRUE(hasSession(server.requestsFor(forum("/thread")).back()));
    startDownload();
    EXPECT_TRUE(savedWhole());

    // Forget ends it: the forum shows its thread to members only.
    QTest::mouseClick(button("settings"), Qt::LeftButton);
    answerer.answerQuestionsWith(QMessageBox::Yes);
    QTest::mouseClick(window->settingsDialog()->forgetSiteDataButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return window->browserProfile().cookieMirror().size() == 0; }));
    window->settingsDialog()->close();
    server.clearRequests();
    go(forum("/thread"));
    ASSERT_EQ(server.requestsFor(forum("/thread")).size(), 1u);
    EXPECT_FALSE(hasSession(server.requestsFor(forum("/thread"))[0]));
}

TEST_F(SessionJobTest, ThousandsOfCookiesKeepTheFirstRequestWithin100Milliseconds) {
    start();
    QWebEngineCookieStore* store = window->browserProfile().profile()->cookieStore();
    for (int host = 0; host < 30; ++host) {
        const QString domain = QStringLiteral("host%1.example").arg(host);
        for (int i = 0; i < 100; ++i) {
            QNetworkCookie cookie(QByteArray("c") + QByteArray::number(i), "value-of-a-cookie");
            cookie.setDomain(domain);
            cookie.setPath(QStringLiteral("/"));
            store->setCookie(cookie,
                             QUrl(QStringLiteral("http://") + domain + QStringLiteral("/")));
        }
    }
    ASSERT_NO_FATAL_FAILURE(logIn());
    ASSERT_TRUE(waitUntil([&] { return window->browserProfile().cookieMirror().size() == 3001; }));
    startDownload();
    ASSERT_NE(firstRequest.load(), 0);
    const auto waited = Clock::time_point(Clock::duration(firstRequest.load())) - clicked;
    EXPECT_LT(waited, std::chrono::milliseconds(100));
}

}  // namespace
}  // namespace velnoria::testing
