#include <gtest/gtest.h>

#include <QApplication>

#include "platform/qt/qt_event_loop.h"
#include "shell/web_browser.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/test_http_server.h"

namespace velnoria::testing {
namespace {

class BrowserDocumentTest : public ::testing::Test {
  protected:
    // Loads a page and waits for the browser to call it complete.
    void load(const std::string& path) {
        browser.navigate(QString::fromStdString(server.url(path)));
        ASSERT_TRUE(waitUntil([&] { return browser.readyState() == WebBrowser::kComplete; }));
    }

    UsesGuiApp app;
    TestHttpServer server;
    QtEventLoop eventLoop;
    WebBrowser browser{eventLoop};
};

TEST_F(BrowserDocumentTest, ImagesAndLinksInDocumentOrderAsAbsoluteAddresses) {
    server.route(server.url("/forum/thread.html"),
                 Reply::ok("<html><body>"
                           "<img src=\"thumbs/a.jpg\">"
                           "<a href=\"../post?id=2\">post</a>"
                           "<img src=\"http://s1.radikal.ru/i1/bt.jpg\">"
                           "<img alt=\"no source\">"
                           "<map name=m><area href=\"/area.html\" shape=rect coords=0,0,1,1></map>"
                           "<a name=\"anchor-only\">x</a>"
                           "<img src=\"//img.example/c.png\">"
                           "</body></html>",
                           "text/html"));
    load("/forum/thread.html");
    const std::string base = server.url("");
    EXPECT_EQ(
        browser.document().imageSources(),
        (std::vector<std::string>{base + "/forum/thumbs/a.jpg", "http://s1.radikal.ru/i1/bt.jpg",
                                  "", "http://img.example/c.png"}));
    EXPECT_EQ(browser.document().linkTargets(),
              (std::vector<std::string>{base + "/post?id=2", base + "/area.html"}));
}

TEST_F(BrowserDocumentTest, PageScriptsCannotChangeWhatIsRead) {
    server.route(server.url("/tricky.html"),
                 Reply::ok("<html><body><img src=\"/x.jpg\"><script>"
                           "Array.from = function () { return ['forged']; };"
                           "</script></body></html>",
                           "text/html"));
    load("/tricky.html");
    EXPECT_EQ(browser.document().imageSources(), std::vector<std::string>{server.url("/x.jpg")});
}

TEST_F(BrowserDocumentTest, AnEmptyPageGivesEmptyLists) {
    browser.navigate(QStringLiteral("about:blank"));
    ASSERT_TRUE(waitUntil([&] { return browser.readyState() == WebBrowser::kComplete; }));
    EXPECT_TRUE(browser.document().imageSources().empty());
    EXPECT_TRUE(browser.document().linkTargets().empty());
}

}  // namespace
}  // namespace velnoria::testing
