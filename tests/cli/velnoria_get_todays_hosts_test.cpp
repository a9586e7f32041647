// Today's single-image hosts, each rebuilt as a loopback fake from what its pages are known to
// carry (meta tags, "continue to image" forms, first-visit cookies, small and big addresses, data
// attributes), against the one rules file shipped for them: velnoria-get reads a thread with a
// thumbnail of each host and must save every picture a rule can reach, byte for byte. The hosts
// whose pictures no rule can reach are listed with what they need.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_http_server.h"

namespace velnoria {
namespace {

namespace fs = std::filesystem;
using testing::ChildResult;
using testing::namesIn;
using testing::readFile;
using testing::Reply;
using testing::Request;
using testing::runChild;
using testing::TempFolder;
using testing::TestHttpServer;

const std::string kProgram = VELNORIA_GET_PATH;
const std::string kTodaysHosts = VELNORIA_SOURCE_DIR "/rules/todays-hosts.toml";
const std::string kThread = "http://forum.example/showthread.php?t=4242";
// host18's answer for a deleted picture: always the same picture of this many bytes.
const std::string kDeleted = "http://i.host18.test/Gh7e.jpg";
constexpr std::uint64_t kPlaceholderBytes = 14396;

// The bytes of the picture at an address: the start of a JPEG, then bytes no other address has.
std::string pictureAt(const std::string& address) {
    const auto seed = static_cast<std::uint32_t>(std::hash<std::string>{}(address));
    return std::string("\xFF\xD8\xFF\xE0", 4) + testing::generatedBytes(3000 + seed % 2000, seed);
}

Reply picture(const std::string& address) {
    return Reply::ok(pictureAt(address), "image/jpeg");
}

Reply html(std::string body) {
    return Reply::ok(
        "<!DOCTYPE html><html><head><title>Image</title>\n" + body + "\n</body></html>\n",
        "text/html; charset=utf-8");
}

Reply forbidden() {
    return Reply::withStatus(403, "<html><body>403 Forbidden</body></html>");
}

Reply settingCookie(Reply reply, std::string cookie) {
    reply.headers.emplace_back("Set-Cookie", std::move(cookie));
    return reply;
}

struct File {
    std::string name;     // as saved
    std::string address;  // where the fake serves it
};

struct Host {
    std::string id;
    std::string post;         // its thumbnail as it stands in the thread
    std::vector<File> files;  // what it gives
    std::string cannot;       // what no rule can express; "" when a rule does it
    // Its pages, and the gates in front of its files (a file is served as it is unless a gate
    // takes its address).
    std::function<void(TestHttpServer&)> serve;
};

std::vector<Host> todaysHosts() {
    return {
        // host01: the view page names the picture in its og:image meta tag.
        {"host01",
         R"(<a href="http://host01.test/i/Qx7Lm"><img src="http://host01.test/th/Qx7Lm.jpg"></a>)",
         {{"Qx7Lm.jpg", "http://img.host01.test/2024/05/Qx7Lm.jpg"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host01.test/i/Qx7Lm",
                     html(R"(<meta property="og:title" content="Qx7Lm.jpg">
<meta property="og:image" content="http://img.host01.test/2024/05/Qx7Lm.jpg">
</head><body><img src="http://img.host01.test/2024/05/Qx7Lm.jpg" width="800">)"));
         }},
        // host02: a twitter:image meta tag, `content` written before `name`, after a card tag of
        // the same shape.
        {"host02",
         R"(<img src="http://t.host02.test/s/4471/harbour.jpg" alt="harbour">)",
         {{"harbour-original.jpg", "http://o.host02.test/4471/harbour-original.jpg"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host02.test/photo/4471",
                     html(R"(<meta content="summary_large_image" name="twitter:card">
<meta content="http://o.host02.test/4471/harbour-original.jpg" name="twitter:image">
</head><body>)"));
         }},
        // host03: the page's <img id="main-image">, its address relative to the page.
        {"host03",
         R"(<img src="http://host03.test/thumbs/ab/cd/abcd9.png">)",
         {{"abcd9-sunset.png", "http://host03.test/images/2023/11/abcd9-sunset.png"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host03.test/view/abcd9", html(R"(</head><body>
<img id="logo" src="/static/logo.png">
<img id="main-image" class="zoomable" src="/images/2023/11/abcd9-sunset.png" alt="">)"));
         }},
        // host04: the picture is on another server number, in another folder.
        {"host04",
         R"(<img src="http://t7.host04.test/th/93/kf82j.jpg">)",
         {{"kf82j.jpg", "http://i7.host04.test/i/93/kf82j.jpg"}},
         "",
         [](TestHttpServer&) {}},
        // host05: the thumbnail is the picture's name with .th before the extension.
        {"host05",
         R"(<img src="http://host05.test/u/mara/2024/p3n1.th.jpg">)",
         {{"p3n1.jpg", "http://host05.test/u/mara/2024/p3n1.jpg"}},
         "",
         [](TestHttpServer&) {}},
        // host06: the thumbnail holds a number only; the link around it holds the name.
        {"host06",
         R"(<a href="http://host06.test/image/8812/cat-on-roof.jpg"><img src="http://host06.test/thumb/8812.jpg"></a>)",
         {{"cat-on-roof.jpg", "http://img.host06.test/8812/cat-on-roof.jpg"}},
         "",
         [](TestHttpServer&) {}},
        // host07: a "continue to image" button; the picture only in the answer to its POST.
        {"host07",
         R"(<a href="http://host07.test/img/4Hq2"><img src="http://host07.test/th/4Hq2.jpg"></a>)",
         {{"4Hq2.jpg", "http://host07.test/images/2024/4Hq2.jpg"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host07.test/img/4Hq2", [](const Request& r) {
                 if (r.method == "POST" && r.body == "imgContinue=Continue+to+image") {
                     return html(R"(</head><body>
<img class="pic img img-responsive" src="http://host07.test/images/2024/4Hq2.jpg" alt="4Hq2.jpg">)");
                 }
                 return html(R"(</head><body><form method="POST" action="">
<input type="submit" class="btn" name="imgContinue" value="Continue to image"></form>)");
             });
         }},
        // host08: a "continue" form with the picture's id; its answer sets a cookie and sends
        // the browser back (303) to the page, which shows the picture to that cookie.
        {"host08",
         R"(<a href="http://host08.test/w8kq3/view.html"><img src="http://t.host08.test/w8kq3_t.jpg"></a>)",
         {{"w8kq3.jpg", "http://img8.host08.test/i/00412/w8kq3.jpg"}},
         "",
         [](TestHttpServer& s) {
             const std::string page = "http://host08.test/w8kq3/view.html";
             s.route(page, [page](const Request& r) {
                 if (r.method == "POST" &&
                     r.body == "op=view&id=w8kq3&pre=1&next=Continue+to+image") {
                     return settingCookie(Reply::redirect(page, 303), "file_code=w8kq3; path=/");
                 }
                 if (r.method == "GET" && r.cookie("file_code") == "w8kq3") {
                     return html(R"(</head><body>
<img class="picview" src="http://img8.host08.test/i/00412/w8kq3.jpg" alt="w8kq3.jpg">)");
                 }
                 return html(R"(</head><body><form method="POST">
<input type="hidden" name="op" value="view"><input type="hidden" name="id" value="w8kq3">
<input type="hidden" name="pre" value="1">
<input type="submit" name="next" value="Continue to image"></form>)");
             });
         }},
        // host09: the first read of the view page only sets a cookie ("please wait"); read again
        // with it, the page shows the picture.
        {"host09",
         R"(<img src="http://host09.test/t/s9d1.jpg">)",
         {{"s9d1.jpg", "http://host09.test/files/s9d1.jpg"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host09.test/view/s9d1", [](const Request& r) {
                 if (r.cookie("vid") == "b71c") {
                     return html(R"(</head><body><img id="image" src="/files/s9d1.jpg">)");
                 }
                 return settingCookie(
                     html(R"(<meta http-equiv="refresh" content="1"></head><body>Please wait...)"),
                     "vid=b71c; Path=/; HttpOnly");
             });
         }},
        // host10: an "adults only" warning unless the visitor has the cookie that says they
        // confirmed it.
        {"host10",
         R"(<img src="http://host10.test/th/60217">)",
         {{"60217.jpg", "http://host10.test/full/60217.jpg"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host10.test/photo/60217", [](const Request& r) {
                 if (r.cookie("adult") == "1") {
                     return html(R"(</head><body>
<img alt="" class="main-photo" src="/full/60217.jpg">)");
                 }
                 return html(R"(</head><body><h1>Adults only</h1>
<a href="?confirm=1">I am over 18</a>)");
             });
         }},
        // host11: the page names the small picture; the big one has /big/ for /small/.
        {"host11",
         R"(<a href="http://host11.test/p/5c1e77"><img src="http://cdn.host11.test/t/5c1e77.jpg"></a>)",
         {{"5c1e77.jpg", "http://cdn.host11.test/big/5c/1e/5c1e77.jpg"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host11.test/p/5c1e77", html(R"(
<meta property="og:image" content="http://cdn.host11.test/small/5c/1e/5c1e77.jpg"></head><body>)"));
             s.route("http://cdn.host11.test/small/5c/1e/5c1e77.jpg",
                     picture("http://cdn.host11.test/small/5c/1e/5c1e77.jpg"));
         }},
        // host12: the page names the medium size (.md before the extension); the full size has
        // none.
        {"host12",
         R"(<a href="http://host12.test/image/Xy9Q"><img src="http://i.host12.test/2024/06/Xy9Q.th.jpg"></a>)",
         {{"Xy9Q.jpg", "http://i.host12.test/2024/06/Xy9Q.jpg"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host12.test/image/Xy9Q", html(R"(
<meta property="og:image" content="http://i.host12.test/2024/06/Xy9Q.md.jpg"></head><body>)"));
             s.route("http://i.host12.test/2024/06/Xy9Q.md.jpg",
                     picture("http://i.host12.test/2024/06/Xy9Q.md.jpg"));
         }},
        // host13: the picture loads late, from data-src; src is a blank GIF.
        {"host13",
         R"(<img src="http://host13.test/th/7aa2.webp">)",
         {{"7aa2.webp", "http://host13.test/media/o/7aa2.webp"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host13.test/v/7aa2", html(R"(</head><body>
<img class="lazy" src="/static/blank.gif" data-src="http://host13.test/media/o/7aa2.webp" alt="">)"));
         }},
        // host14: a download button whose address names no file; the name is in its download
        // attribute.
        {"host14",
         R"(<a href="http://host14.test/image/5521"><img src="http://host14.test/thumb/5521.jpg"></a>)",
         {{"lighthouse.jpg", "http://host14.test/dl/5521"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host14.test/image/5521", html(R"(</head><body>
<img src="/preview/5521.jpg">
<a class="btn-download" href="/dl/5521" download="lighthouse.jpg">Download</a>)"));
         }},
        // host15: the thumbnail comes from a cache that tells nothing; the link leads to the page,
        // whose viewer holds the picture in a data attribute.
        {"host15",
         R"(<a href="http://host15.test/p/Zq81"><img src="http://cdn.cache15.test/r/w300/Zq81"></a>)",
         {{"Zq81.jpeg", "http://s3.host15.test/Zq81/original.jpeg"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host15.test/p/Zq81", html(R"(</head><body>
<div id="viewer" class="viewer" data-full-url="http://s3.host15.test/Zq81/original.jpeg" data-width="2400"></div>)"));
         }},
        // host16: the view page answers 403 to a Referer from another site.
        {"host16",
         R"(<img src="http://host16.test/t/r5T.jpg">)",
         {{"r5T.jpg", "http://host16.test/i/r5T.jpg"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host16.test/v/r5T", [](const Request& r) {
                 if (!r.header("Referer").starts_with("http://host16.test/")) return forbidden();
                 return html(R"(</head><body><img id="full" src="/i/r5T.jpg">)");
             });
         }},
        // host17: the address comes from the site's own script request (400 without
        // X-Requested-With), as JSON with every / written \/.
        {"host17",
         R"(<img src="http://host17.test/thumb/Ab3.jpg">)",
         {{"Ab3.jpg", "http://host17.test/files/Ab3/full.jpg"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host17.test/ajax/image?id=Ab3", [](const Request& r) {
                 if (r.header("X-Requested-With") != "XMLHttpRequest") {
                     return Reply::withStatus(400, R"({"ok":false})");
                 }
                 return Reply::ok(
                     R"({"ok":true,"image":{"url":"http:\/\/host17.test\/files\/Ab3\/full.jpg","width":1600}})",
                     "application/json");
             });
         }},
        // host18: a deleted picture is answered with the same "image removed" picture of
        // 14,396 bytes; the thread holds a live one and a deleted one.
        {"host18",
         R"(<img src="http://t.host18.test/Lm4k.jpg"> <img src="http://t.host18.test/Gh7e.jpg">)",
         {{"Lm4k.jpg", "http://i.host18.test/Lm4k.jpg"}},
         "",
         [](TestHttpServer& s) {
             s.route(kDeleted, Reply::ok("\xFF\xD8\xFF\xE0" +
                                             testing::generatedBytes(kPlaceholderBytes - 4, 18),
                                         "image/jpeg"));
         }},
        // host19: one link leads to a set of pictures on one page.
        {"host19",
         R"(<a href="http://host19.test/set/ab12"><img src="http://host19.test/cover/ab12.png"></a>)",
         {{"ab12-1.png", "http://host19.test/o/ab12/1.png"},
          {"ab12-2.png", "http://host19.test/o/ab12/2.png"},
          {"ab12-3.png", "http://host19.test/o/ab12/3.png"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host19.test/set/ab12", html(R"(</head><body>
<img class="cover" src="http://host19.test/cover/ab12.png">
<img class="set-item" src="http://host19.test/o/ab12/1.png">
<img class="set-item" src="http://host19.test/o/ab12/2.png">
<img class="set-item" src="http://host19.test/o/ab12/3.png">)"));
         }},
        // host20: the view page has moved (a redirect) and names the picture relative to where it
        // is now.
        {"host20",
         R"(<img src="http://host20.test/t/991.jpg">)",
         {{"991.jpg", "http://host20.test/gallery/2024/files/991.jpg"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host20.test/v/991",
                     Reply::redirect("http://host20.test/gallery/2024/v/991/", 301));
             s.route("http://host20.test/gallery/2024/v/991/",
                     html(R"(</head><body><img id="photo" src="../../files/991.jpg">)"));
         }},
        // host21: the picture's address has a query, written with &amp; in the page.
        {"host21",
         R"(<img src="http://host21.test/thumb.php?id=3310">)",
         {{"host21-3310.jpg", "http://host21.test/image.php?id=3310&type=full"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host21.test/show.php?id=3310", html(R"(</head><body>
<img id="pic" src="http://host21.test/image.php?id=3310&amp;type=full">)"));
         }},
        // host22: the page names its picture in <link rel="image_src">.
        {"host22",
         R"(<a href="http://host22.test/Kp2"><img src="http://host22.test/t/Kp2"></a>)",
         {{"Kp2.gif", "http://host22.test/i/Kp2.gif"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host22.test/Kp2", html(R"(
<link rel="image_src" href="http://host22.test/i/Kp2.gif"></head><body>)"));
         }},
        // host23: the first read of the page sets a session cookie and shows the "continue"
        // button; its POST is answered only with that cookie.
        {"host23",
         R"(<img src="http://host23.test/th/h23x.jpg">)",
         {{"h23x.jpg", "http://host23.test/upload/big/2024/h23x.jpg"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host23.test/img-h23x.html", [](const Request& r) {
                 if (r.method != "POST") {
                     return settingCookie(html(R"(</head><body><form method="POST">
<input type="submit" name="imgContinue" value="Continue to your image"></form>)"),
                                          "PHPSESSID=s23; path=/");
                 }
                 if (r.cookie("PHPSESSID") != "s23" ||
                     r.body != "imgContinue=Continue+to+your+image") {
                     return forbidden();
                 }
                 return html(R"(</head><body>
<img alt="h23x.jpg" class="img-responsive" src="http://host23.test/upload/big/2024/h23x.jpg">)");
             });
         }},
        // host24: the front page sets a session cookie; the picture server answers 403 without.
        {"host24",
         R"(<img src="http://host24.test/t/q1w2.jpg">)",
         {{"q1w2.jpg", "http://host24.test/img/q1w2.jpg"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host24.test/",
                     settingCookie(html("</head><body>Welcome"), "hsess=24ab; Path=/"));
             s.route("http://host24.test/img/q1w2.jpg", [](const Request& r) {
                 if (r.cookie("hsess") != "24ab") return forbidden();
                 return picture("http://host24.test/img/q1w2.jpg");
             });
         }},
        // host25: the picture server answers only a Referer from the host's own pages.
        {"host25",
         R"(<img src="http://host25.test/th/v25e.jpg">)",
         {{"v25e.jpg", "http://i.host25.test/big/v25e.jpg"}},
         "",
         [](TestHttpServer& s) {
             s.route("http://host25.test/view/v25e", html(R"(</head><body>
<img alt="" id="img" src="http://i.host25.test/big/v25e.jpg">)"));
             s.route("http://i.host25.test/big/v25e.jpg", [](const Request& r) {
                 if (!r.header("Referer").starts_with("http://host25.test/")) return forbidden();
                 return picture("http://i.host25.test/big/v25e.jpg");
             });
         }},
        // host26: the page holds the address only in base64, decoded by its script.
        {"host26",
         R"(<a href="http://host26.test/v/f00d"><img src="http://host26.test/th/f00d.jpg"></a>)",
         {{"9a8b7c6d5e.jpg", "http://host26.test/x/9a8b7c6d5e.jpg"}},
         "a scrambled address: the page holds it only in base64, which its script decodes",
         [](TestHttpServer& s) {
             s.route("http://host26.test/v/f00d", html(R"(</head><body><img id="pic">
<script>document.getElementById("pic").src =
atob("aHR0cDovL2hvc3QyNi50ZXN0L3gvOWE4YjdjNmQ1ZS5qcGc=");</script>)"));
         }},
        // host27: the page's script puts the address together reversed.
        {"host27",
         R"(<img src="http://host27.test/th/af9e1.jpg">)",
         {{"af9e1.jpg", "http://i.host27.test/7/af9e1.jpg"}},
         "a scrambled address: the page's script reverses it, character by character",
         [](TestHttpServer& s) {
             s.route("http://host27.test/v/af9e1", html(R"(</head><body><img id="pic">
<script>var s = "gpj.1e9fa/7/tset.72tsoh.i//:ptth";
document.getElementById("pic").src = s.split("").reverse().join("");</script>)"));
         }},
        // host28: the page is an empty shell; the address comes from the site's private API,
        // which wants a token from an earlier answer of the API.
        {"host28",
         R"(<a href="http://host28.test/m/77x"><img src="http://cdn.host28.test/77x/thumb.jpg"></a>)",
         {{"orig.jpg", "http://cdn.host28.test/77x/orig.jpg"}},
         "a private API: the address comes from a request that carries a token from an earlier "
         "answer",
         [](TestHttpServer& s) {
             s.route("http://host28.test/m/77x", html(R"(</head><body>
<div id="app" data-media="77x"></div><script src="/static/app.js"></script>)"));
             s.route("http://api.host28.test/v1/session", [](const Request& r) {
                 if (r.method != "POST") return Reply::withStatus(405);
                 return Reply::ok(R"({"token":"t28-a9f3"})", "application/json");
             });
             s.route("http://api.host28.test/v1/media/77x", [](const Request& r) {
                 if (r.header("Authorization") != "Bearer t28-a9f3") {
                     return Reply::withStatus(401, R"({"error":"unauthorized"})");
                 }
                 return Reply::ok(R"({"original":"http://cdn.host28.test/77x/orig.jpg"})",
                                  "application/json");
             });
         }},
        // host29: the "continue" form carries a token that changes with every read of the page;
        // its POST is answered only with the token of the read before.
        {"host29",
         R"(<img src="http://host29.test/th/k29.jpg">)",
         {{"k29.jpg", "http://host29.test/big/k29.jpg"}},
         "a form with a token from the read before: the page's body gives a value the next "
         "request must carry",
         [](TestHttpServer& s) {
             auto issued = std::make_shared<std::atomic<int>>(0);
             s.route("http://host29.test/img/k29", [issued](const Request& r) {
                 if (r.method == "POST" &&
                     r.body == "token=" + std::to_string(issued->load()) + "&go=Continue") {
                     return html(R"(</head><body><img id="big" src="/big/k29.jpg">)");
                 }
                 return html(
                     R"(</head><body><form method="POST"><input type="hidden" name="token" value=")" +
                     std::to_string(++*issued) +
                     R"("><input type="submit" name="go" value="Continue"></form>)");
             });
         }},
    };
}

class VelnoriaGetTodaysHosts : public ::testing::Test {
  protected:
    TestHttpServer server;
    testing::ScopedProxy proxy{server};
    TempFolder folder;
};

TEST_F(VelnoriaGetTodaysHosts, OneRulesFileSavesEveryHostThatARuleCanExpress) {
    const std::vector<Host> hosts = todaysHosts();
    ASSERT_EQ(hosts.size(), 29u);
    std::string thread = "</head><body>\n";
    for (const Host& host : hosts) {
        for (const File& file : host.files) server.route(file.address, picture(file.address));
        host.serve(server);
        thread += "<div class=\"post\"><p>From " + host.id + ":</p>" + host.post + "</div>\n";
    }
    server.route(kThread, html(thread));

    for (const std::string parallel : {"1", "4"}) {
        SCOPED_TRACE("--parallel " + parallel);
        fs::remove_all(folder / "out");
        fs::remove(folder / "failed.txt");
        server.clearRequests();
        const ChildResult run = runChild(
            kProgram,
            {"--rules", kTodaysHosts, "--parallel", parallel, "--save-folder", "out", kThread},
            folder.path());
        ASSERT_FALSE(run.timedOut);
        // host18's deleted picture is the one failure.
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_EQ(run.err, "");

        std::vector<std::string> expected;
        std::vector<std::string> expressed;
        for (const Host& host : hosts) {
            bool saved = true;
            for (const File& file : host.files) {
                const fs::path path = folder / "out" / file.name;
                if (host.cannot.empty()) {
                    expected.push_back(file.name);
                    const bool exact =
                        fs::exists(path) && readFile(path) == pictureAt(file.address);
                    EXPECT_TRUE(exact) << host.id << ": " << file.name << "\n" << run.out;
                    saved = saved && exact;
                } else {
                    // Nothing of a host no rule expresses is asked for, let alone saved.
                    EXPECT_FALSE(fs::exists(path)) << host.id;
                    EXPECT_TRUE(server.requestsFor(file.address).empty()) << host.id;
                    saved = false;
                }
            }
            if (saved) expressed.push_back(host.id);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(namesIn(folder / "out"), expected);
        EXPECT_GE(expressed.size(), 25u);
        EXPECT_NE(run.out.find("Downloading file Gh7e.jpg...FAILED (placeholder picture)\n"
                               "FAILURE LOGGED.\n"),
                  std::string::npos)
            << run.out;
        EXPECT_EQ(readFile(folder / "failed.txt"), kDeleted + "\r\n");
        EXPECT_TRUE(run.out.ends_with("Task finished !\n " + std::to_string(expected.size()) +
                                      " file(s) downloaded.\n"))
            << run.out;
    }

    std::cout << "What no rule can express:\n";
    for (const Host& host : hosts) {
        if (!host.cannot.empty()) std::cout << "  " << host.id << ".test: " << host.cannot << "\n";
    }
}

TEST_F(VelnoriaGetTodaysHosts, TheRulesFileHasNoProblemsAndTheManualQuotesItAsItIs) {
    const ChildResult run = runChild(kProgram, {"--check-rules", kTodaysHosts}, folder.path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, kTodaysHosts + ": 25 good rules, 0 problems\n");

    // Each rule the manual's section shows (indented by four) stands in the file as shown.
    const std::string manual = readFile(VELNORIA_SOURCE_DIR "/docs/rules.md");
    const std::size_t from = manual.find("## Today's hosts");
    const std::size_t to = manual.find("\n## ", from + 1);
    ASSERT_NE(from, std::string::npos);
    const std::string file = readFile(kTodaysHosts);
    int shown = 0;
    for (std::size_t at = manual.find("    [[rule]]\n", from); at < to;
         at = manual.find("    [[rule]]\n", at + 1)) {
        std::string rule;
        std::size_t line = at;
        while (manual.compare(line, 4, "    ") == 0) {
            const std::size_t end = manual.find('\n', line);
            rule += manual.substr(line + 4, end + 1 - line - 4);
            line = end + 1;
        }
        EXPECT_NE(file.find(rule), std::string::npos) << rule;
        ++shown;
    }
    EXPECT_EQ(shown, 3);
}

}  // namespace
}  // namespace velnoria
