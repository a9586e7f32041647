// Drives the real main window into a page wait or a running job, then ends the program the way
// a user does (Exit, or closing the main window) and expects the process to be gone at once.
// Exit codes: 0 = the program ended itself; 3 = it came back to the main loop; 4 = stuck.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/desktop_program.h"
#include "shell/main_window.h"
#include "shell/qt_status_view.h"

using velnoria::MainWindow;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s page-wait|job exit|close ADDRESS\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const bool byExit = std::strcmp(argv[2], "exit") == 0;
    const QString address = QString::fromUtf8(argv[3]);

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    MainWindow window(velnoria::endProcessNow);
    if (!window.startUp("")) return 5;
    window.show();

    // Stuck: the program did not end although it was told to.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { std::_Exit(4); });
    watchdog.start(30000);

    auto* box = window.findChild<QLineEdit*>(QStringLiteral("addressBox"));
    auto* go = window.findChild<QPushButton*>(QStringLiteral("go"));
    auto* download = window.findChild<QPushButton*>(QStringLiteral("startDownload"));
    auto* exitButton = window.findChild<QPushButton*>(QStringLiteral("exit"));
    const auto endNow = [&] {
        std::printf("ending\n");
        std::fflush(stdout);
        if (byExit) {
            QTest::mouseClick(exitButton, Qt::LeftButton);
        } else {
            window.close();
        }
    };

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        velnoria::QtStatusView::Window* status = window.statusView().window();
        const bool jobInFile = status != nullptr && status->isVisible() &&
                               status->log()->toPlainText().contains("Downloading file");
        // ... and the download in hand has its file in the save folder.
        if (mode == "job" && jobInFile && !QDir("images").isEmpty()) {
            poll.stop();
            endNow();
        }
    });
    QTimer::singleShot(0, [&] {
        box->setText(address);
        if (mode == "page-wait") {
            // The page answers slowly: end while Go waits for it.
            QTimer::singleShot(1000, endNow);
            go->click();
            return;
        }
        go->click();
        poll.start(50);
        download->click();
    });
    QApplication::exec();
    return 3;
}
