#include "shell/browser_profile.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QNetworkCookie>
#include <QSignalSpy>
#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <algorithm>
#include <chrono>
#include <optional>

#include "platform/qt/qt_cookie_mirror.h"
#include "platform/qt/qt_event_loop.h"
#include "shell/web_browser.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/cookie_printing.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_http_server.h"

namespace velnoria::testing {
namespace {

QNetworkCookie networkCookie(const char* domain, const char* path, bool secure, bool httpOnly,
                             std::optional<std::int64_t> expires, const char* name,
                             const char* value) {
    QNetworkCookie cookie(name, value);
    cookie.setDomain(QString::fromLatin1(domain));
    cookie.setPath(QString::fromLatin1(path));
    cookie.setSecure(secure);
    cookie.setHttpOnly(httpOnly);
    if (expires) cookie.setExpirationDate(QDateTime::fromSecsSinceEpoch(*expires));
    return cookie;
}

std::vector<Cookie> sorted(std::vector<Cookie> cookies) {
    std::sort(cookies.begin(), cookies.end(), [](const Cookie& a, const Cookie& b) {
        return std::tie(a.domain, a.name) < std::tie(b.domain, b.name);
    });
    return cookies;
}

TEST(CookieConversion, TheBrowsersCookiesAsTheJobSendsThem) {
    const struct {
        QNetworkCookie from;
        Cookie to;
    } cases[] = {
        // A leading dot: the domain's subdomains too.
        {networkCookie(".forum.example", "/", false, true, 1893456000, "sid", "abc"),
         {"forum.example", true, "/", false, true, 1893456000, "sid", "abc"}},
        {networkCookie("img.example", "/board/", true, false, std::nullopt, "lang", "en"),
         {"img.example", false, "/board/", true, false, 0, "lang", "en"}},
        // A date before 1970 has passed; it must not turn into a session cookie.
        {networkCookie("old.example", "/", false, false, -5000, "gone", "x"),
         {"old.example", false, "/", false, false, 1, "gone", "x"}},
        {networkCookie("127.0.0.1", "", false, false, std::nullopt, "", "v=1"),
         {"127.0.0.1", false, "/", false, false, 0, "", "v=1"}},
    };
    for (const auto& c : cases) EXPECT_EQ(toCookie(c.from), c.to) << c.to.name;
}

class BrowserProfileTest : public ::testing::Test {
  protected:
    // The engine opens a profile's cookie store for its first page, as the main window's start-up
    // does, and waits for it: an engine torn down in the middle of its first load may crash.
    BrowserProfileTest() {
        QSignalSpy loaded(&page, &QWebEnginePage::loadFinished);
        page.load(QUrl(QStringLiteral("about:blank")));
        EXPECT_TRUE(loaded.wait(10000));
    }

    // Sets a cookie as a page of its origin could, and waits for the mirror to see it.
    void setCookie(const QNetworkCookie& cookie, const char* origin) {
        profile.profile()->cookieStore()->setCookie(cookie, QUrl(QString::fromLatin1(origin)));
    }
    QtCookieMirror& mirror() { return profile.cookieMirror(); }

    UsesGuiApp app;
    TempFolder home;
    ScopedEnv homeVariable{"HOME", home.path().string()};
    ScopedEnv dataHome{"XDG_DATA_HOME", std::nullopt};
    ScopedEnv cacheHome{"XDG_CACHE_HOME", std::nullopt};
    BrowserProfile profile;
    QWebEnginePage page{profile.profile()};
};

TEST_F(BrowserProfileTest, LivesInTheUsersDataFolder) {
    EXPECT_EQ(BrowserProfile::storageFolder().toStdString(),
              (home.path() / ".local/share/velnoria-morvath/browser").string());
    EXPECT_EQ(profile.profile()->persistentStoragePath(), BrowserProfile::storageFolder());
    EXPECT_FALSE(profile.profile()->isOffTheRecord());
    EXPECT_EQ(profile.profile()->persistentCookiesPolicy(),
              QWebEngineProfile::ForcePersistentCookies);
}

TEST_F(BrowserProfileTest, TheMirrorFollowsTheCookiesTheBrowserSetsAndDrops) {
    setCookie(networkCookie(".forum.example", "/", false, true, 1893456000, "sid", "one"),
              "http://www.forum.example/");
    // No domain: a cookie for its host alone.
    setCookie(networkCookie("", "/board/", true, false, std::nullopt, "lang", "en"),
              "https://forum.example/board/");
    setCookie(networkCookie("", "/", false, false, std::nullopt, "seen", "1"),
              "http://img.example/");
    ASSERT_TRUE(waitUntil([&] { return mirror().size() == 3; })) << mirror().size();
    EXPECT_EQ(
        sorted(mirror().cookies()),
        (std::vector<Cookie>{{"forum.example", false, "/board/", true, false, 0, "lang", "en"},
                             {"forum.example", true, "/", false, true, 1893456000, "sid", "one"},
                             {"img.example", false, "/", false, false, 0, "seen", "1"}}));

    // A new value replaces the old one; a deleted cookie goes.
    setCookie(networkCookie(".forum.example", "/", false, true, 1893456000, "sid", "two"),
              "http://www.forum.example/");
    profile.profile()->cookieStore()->deleteCookie(
        networkCookie("", "/", false, false, std::nullopt, "seen", "1"),
        QUrl("http://img.example/"));
    ASSERT_TRUE(waitUntil([&] {
        const auto& now = mirror().cookies();
        return now.size() == 2 && std::any_of(now.begin(), now.end(), [](const Cookie& c) {
                   return c.name == "sid" && c.value == "two";
               });
    })) << mirror().size();

    // What a page's answer sets arrives too, HttpOnly and all.
    TestHttpServer server;
    Reply page = Reply::ok("<html><body>hi</body></html>", "text/html");
    page.headers = {{"Set-Cookie", "login=ann; Path=/; HttpOnly"}};
    server.route(server.url("/login"), page);
    QtEventLoop eventLoop;
    WebBrowser browser(eventLoop, nullptr, profile.profile());
    browser.navigate(QString::fromStdString(server.url("/login")));
    ASSERT_TRUE(waitUntil([&] { return mirror().size() == 3; })) << mirror().size();
    const auto& now = mirror().cookies();
    const auto login =
        std::find_if(now.begin(), now.end(), [](const Cookie& c) { return c.name == "login"; });
    ASSERT_NE(login, now.end());
    EXPECT_EQ(*login, (Cookie{"127.0.0.1", false, "/", false, true, 0, "login", "ann"}));
}

// A browser that holds thousands of cookies hands them to a job at once.
TEST_F(BrowserProfileTest, ThousandsOfCookiesAreHandedOverAtOnce) {
    constexpr int kHosts = 30;
    constexpr int kPerHost = 100;  // the engine keeps at most 180 for one domain
    for (int host = 0; host < kHosts; ++host) {
        const std::string domain = "host" + std::to_string(host) + ".example";
        for (int i = 0; i < kPerHost; ++i) {
            const std::string name = "c" + std::to_string(i);
            setCookie(networkCookie(domain.c_str(), "/", false, false, std::nullopt, name.c_str(),
                                    "value-of-a-cookie"),
                      ("http://" + domain + "/").c_str());
        }
    }
    ASSERT_TRUE(waitUntil([&] { return mirror().size() == kHosts * kPerHost; })) << mirror().size();

    Session session;
    const auto started = std::chrono::steady_clock::now();
    profile.fillSession(session);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(session.cookies.size(), static_cast<std::size_t>(kHosts * kPerHost));
    EXPECT_EQ(session.userAgent, profile.profile()->httpUserAgent().toStdString());
    EXPECT_NE(session.userAgent.find("Mozilla/5.0"), std::string::npos) << session.userAgent;
    // Well under a millisecond here; the job's first request must follow within 100 ms.
    EXPECT_LT(took, std::chrono::milliseconds(50));
}

TEST_F(BrowserProfileTest, ForgetEmptiesTheCookiesAtOnce) {
    setCookie(networkCookie("forum.example", "/", false, true, std::nullopt, "sid", "one"),
              "http://forum.example/");
    ASSERT_TRUE(waitUntil([&] { return mirror().size() == 1; }));
    profile.forgetCookiesAndSiteData();
    EXPECT_TRUE(waitUntil([&] { return mirror().size() == 0; })) << mirror().size();
    Session session;
    profile.fillSession(session);
    EXPECT_TRUE(session.cookies.empty());
}

}  // namespace
}  // namespace velnoria::testing
