// Saves pictures of the program's windows into a folder, for the documentation:
//   velnoria-screenshots OUTPUT_FOLDER   (run under a display, e.g. xvfb-run)
// The main window shows a thread page served on loopback, at its first size and maximised (with
// openbox as the window manager for the moment); the status window is taken during a real job
// whose downloads come from the same server.
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "shell/about_dialog.h"
#include "shell/main_window.h"
#include "shell/qt_status_view.h"
#include "shell/settings_dialog.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/test_http_server.h"

namespace {

using namespace velnoria;
using namespace velnoria::testing;

std::string thumbnailPng(int index) {
    static const QColor colours[] = {{70, 130, 180}, {205, 133, 63}, {60, 179, 113},
                                     {186, 85, 211}, {220, 20, 60},  {218, 165, 32}};
    QImage image(120, 90, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = colours[index % 6];
    painter.fillRect(image.rect(), colour.lighter(150));
    painter.setBrush(colour.darker(120));
    painter.setPen(Qt::NoPen);
    painter.drawPolygon(QPolygon({{0, 90}, {40, 35}, {70, 70}, {90, 50}, {120, 90}}));
    painter.setBrush(QColor(255, 240, 180));
    painter.drawEllipse(QPoint(92, 22), 10, 10);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

std::string threadPage(const TestHttpServer& server) {
    std::string page =
        "<html><head><title>Holiday pictures</title><style>"
        "body{font-family:sans-serif;background:#eef1f5;margin:0}"
        ".bar{background:#34495e;color:#fff;padding:8px 14px;font-weight:bold}"
        ".post{background:#fff;margin:10px;padding:10px;border:1px solid #ccd}"
        ".who{color:#556;font-size:13px;margin-bottom:6px}"
        "img{margin:4px;border:1px solid #99a}</style></head><body>"
        "<div class=bar>Photo Forum &raquo; Travel &raquo; Holiday pictures</div>"
        "<div class=post><div class=who>posted by <b>marin</b></div>"
        "Our week at the coast, click for the full size:<br>";
    for (int i = 1; i <= 6; ++i) {
        const std::string thumb = server.url("/thumbs/" + std::to_string(i) + ".png");
        page += "<a href=\"" + thumb + "\"><img src=\"" + thumb + "\"></a>";
        if (i == 3)
            page +=
                "</div><div class=post><div class=who>posted by <b>ilse</b></div>"
                "And a few from the mountains:<br>";
    }
    return page + "</div></body></html>";
}

bool save(const QImage& image, const QString& file) {
    const bool saved = image.save(file, "PNG");
    std::printf("%s %s\n", saved ? "saved" : "FAILED", file.toUtf8().constData());
    return saved;
}

QImage grabScreenWindow(QWidget* window) {
    return window->screen()->grabWindow(window->winId()).toImage();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QString output = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(output);
    guiApp();

    ScopedWorkFolder work;
    std::filesystem::create_directories(work.path() / "images");
    std::ofstream(work.path() / "settings.dat", std::ios::binary)
        << "CURDIR$\\images\r\n 30 \r\n 4000 \r\n";
    TestHttpServer server;
    ScopedProxy proxy(server);
    server.route("http://www.velnoria.example/velnoria/version.txt", Reply::ok("2.2"));
    for (int i = 1; i <= 6; ++i) {
        server.route(server.url("/thumbs/" + std::to_string(i) + ".png"),
                     Reply::ok(thumbnailPng(i), "image/png"));
    }
    server.route(server.url("/thread.html"), Reply::ok(threadPage(server), "text/html"));
    server.route(server.url("/job.html"),
                 Reply::ok("<html><body>"
                           "<img src=\"http://s1.radikal.ru/i1/beach1t.jpg\">"
                           "<img src=\"http://s1.radikal.ru/i1/beach2t.jpg\">"
                           "<img src=\"http://www.hqcity.net/thumbs/harbour.jpg\">"
                           "</body></html>",
                           "text/html"));
    server.route("http://s1.radikal.ru/i1/beach1.jpg", Reply::generated(60000, 1));
    server.route("http://s1.radikal.ru/i1/beach2.jpg", Reply::generated(80000, 2));
    Reply slow = Reply::generated(3000000, 3);
    slow.drip = Drip{30000, std::chrono::milliseconds{20}};
    server.route("http://www.hqcity.net/hq/harbour.jpg", slow);

    ModalAnswerer answerer;
    bool ok = true;
    MainWindow window([](int) {});
    window.startUp("");
    window.show();
    ok &= QTest::qWaitForWindowExposed(&window);

    auto* box = window.findChild<QLineEdit*>(QStringLiteral("addressBox"));
    auto* go = window.findChild<QPushButton*>(QStringLiteral("go"));
    auto* download = window.findChild<QPushButton*>(QStringLiteral("startDownload"));

    box->setText(QString::fromStdString(server.url("/thread.html")));
    go->click();
    QTest::qWait(1500);  // the page paints after it has loaded
    ok &= save(grabScreenWindow(&window), output + "/main-window.png");

    {
        // Settings shows a thread run again in folders of its own, for this picture only: the
        // job below runs with the choices of a first start.
        const Choices first = window.state().choices;
        Choices& shown = window.state().choices;
        shown.rememberSaved = true;
        shown.folderTemplate = "{host}/{title}";
        shown.nameTemplate = "{page:03}-{index:03}-{name}.{ext}";
        shown.watchMinutes = 30;
        window.findChild<QPushButton*>(QStringLiteral("settings"))->click();
        QTest::qWait(300);
        ok &= save(window.settingsDialog()->grab().toImage(), output + "/settings.png");
        window.settingsDialog()->close();
        window.state().choices = first;
    }

    window.findChild<QPushButton*>(QStringLiteral("about"))->click();
    QTest::qWait(300);
    ok &= save(window.aboutDialog()->grab().toImage(), output + "/about.png");
    window.aboutDialog()->close();

    {
        // Only a window manager maximises a window.
        ScopedWindowManager windowManager;
        if (!windowManager.running()) {
            std::fprintf(stderr, "%s\n", windowManager.problem().c_str());
            return 1;
        }
        window.showMaximized();
        waitUntil([&] { return window.isMaximized(); });
        QTest::qWait(1500);  // the page paints again at its new size
        ok &= save(grabScreenWindow(&window), output + "/main-window-maximised.png");
        window.showNormal();
        waitUntil([&] { return !window.isMaximized(); });
    }
    // The status window is taken twice: during a job of one download at a time, and during one
    // of four downloads at once, which lists its transfers in hand below the bar.

    box->setText(QString::fromStdString(server.url("/job.html")));
    go->click();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QtStatusView::Window* status = window.statusView().window();
        if (status == nullptr || !status->log()->toPlainText().contains("harbour.jpg")) return;
        // Taken once the bar shows some of the harbour's progress (not the last file's); the job
        // runs only while this returns.
        const QProgressBar* bar = status->findChild<QProgressBar*>();
        if (bar->maximum() != 3000000 || bar->value() * 10 < bar->maximum() * 4) return;
        poll.stop();
        ok &= save(status->grab().toImage(), output + "/status-window.png");
        QTest::mouseClick(status->stopButton(), Qt::LeftButton);
    });
    poll.start(50);
    download->click();

    std::string manyPage = "<html><body>";
    for (int i = 1; i <= 8; ++i) {
        // Two pictures on each of four hosts, each coming at its own pace.
        const std::string host = "http://s" + std::to_string((i - 1) % 4 + 1) + ".radikal.ru/i1/";
        const std::string name = "lake-" + std::to_string(i);
        manyPage += "<img src=\"" + host + name + "t.jpg\">";
        const auto step = static_cast<std::size_t>(i);
        Reply dripping =
            Reply::generated(2000000 + 150000 * step, static_cast<std::uint32_t>(10 + i));
        dripping.drip = Drip{12000 + 5000 * step, std::chrono::milliseconds{20}};
        server.route(host + name + ".jpg", dripping);
    }
    server.route(server.url("/many.html"), Reply::ok(manyPage + "</body></html>", "text/html"));
    window.state().choices.downloadsAtOnce = 4;
    box->setText(QString::fromStdString(server.url("/many.html")));
    go->click();
    QTimer pollMany;
    QObject::connect(&pollMany, &QTimer::timeout, [&] {
        QtStatusView::Window* status = window.statusView().window();
        if (status == nullptr || !status->transfers()->isVisible()) return;
        // Taken while the first four files come in, each with some bytes in.
        const QStringList rows = status->transfers()->text().split(QLatin1Char('\n'));
        if (rows.size() != 4 || status->log()->toPlainText().contains(QStringLiteral("OK"))) return;
        for (const QString& row : rows) {
            if (row.endsWith(QStringLiteral(": 0 bytes"))) return;
        }
        const QProgressBar* bar = status->findChild<QProgressBar*>();
        if (bar->value() * 5 < bar->maximum()) return;
        pollMany.stop();
        ok &= save(status->grab().toImage(), output + "/status-window-at-once.png");
        QTest::mouseClick(status->stopButton(), Qt::LeftButton);
    });
    pollMany.start(50);
    download->click();
    return ok ? 0 : 1;
}
