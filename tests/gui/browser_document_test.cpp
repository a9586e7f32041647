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

TEST_F(BrowserDocumentTest, EachImageWithTheLinkAroundIt) {
    server.route(
        server.url("/forum/links.html"),
        Reply::ok("<html><body>"
                  "<a href=\"full/1.jpg\"><img src=\"t/1.jpg\"></a>"
                  "<a href=\"/full/2.jpg\"><div><span><img src=\"t/2.jpg\"></span></div></a>"
                  "<img src=\"t/3.jpg\">"
                  "<a name=\"anchor\"><img src=\"t/4.jpg\"></a>"
                  "<svg><a href=\"/svg\"><foreignObject><img src=\"t/5.jpg\">"
                  "</foreignObject></a></svg>"
                  "</body></html>",
                  "text/html"));
    load("/forum/links.html");
    const std::string base = server.url("");
    EXPECT_EQ(browser.document().imagesWithLinks(),
              (std::vector<ImageInLink>{
                  {base + "/forum/t/1.jpg", base + "/forum/full/1.jpg"},
                  {base + "/forum/t/2.jpg", base + "/full/2.jpg"},
                  {base + "/forum/t/3.jpg", ""},
                  {base + "/forum/t/4.jpg", ""},
                  {base + "/forum/t/5.jpg", ""},  // a link of a drawing is no web link
              }));
}

TEST_F(BrowserDocumentTest, PageScriptsCannotChangeWhatIsRead) {
    server.route(
        server.url("/tricky.html"),
        Reply::ok("<html><body><a href=\"/big.jpg\"><img src=\"/x.jpg\"></a><script>"
                  "Array.from = function () { return ['forged']; };"
                  "HTMLAnchorElement.prototype.hasAttribute = function () { return false; };"
                  "</script></body></html>",
                  "text/html"));
    load("/tricky.html");
    EXPECT_EQ(browser.document().imageSources(), std::vector<std::string>{server.url("/x.jpg")});
    EXPECT_EQ(browser.document().imagesWithLinks(),
              (std::vector<ImageInLink>{{server.url("/x.jpg"), server.url("/big.jpg")}}));
}

TEST_F(BrowserDocumentTest, AnEmptyPageGivesEmptyLists) {
    browser.navigate(QStringLiteral("about:blank"));
    ASSERT_TRUE(waitUntil([&] { return browser.readyState() == WebBrowser::kComplete; }));
    EXPECT_TRUE(browser.document().imageSources().empty());
    EXPECT_TRUE(browser.document().linkTargets().empty());
    EXPECT_TRUE(browser.document().imagesWithLinks().empty());
}

}  // namespace
}  // namespace velnoria::testing
