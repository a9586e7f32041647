// Drives the real main window through one run of the program in the HOME it is given, to show
// what the browser keeps from one run to the next. Every run ends the way a user ends it, with
// Exit, at once:
//   login ADDRESS  loads ADDRESS (its answer logs in: cookies, site storage), prints the cookies
//                  the browser then holds (printCookieNames)
//   visit ADDRESS  loads ADDRESS, prints the cookies the browser holds
//   forget         presses Settings' "Forget cookies and site data" and answers Yes
// Exit codes: 0 = the program ended itself; 3 = it came back to the main loop; 4 = stuck.
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/qt/qt_cookie_mirror.h"
#include "shell/browser_profile.h"
#include "shell/desktop_program.h"
#include "shell/main_window.h"
#include "shell/settings_dialog.h"
#include "tests/gui/gui_test_support.h"

using velnoria::MainWindow;
using velnoria::testing::waitUntil;

namespace {

// "cookies: NAME..." with ":httponly" and ":session" after a name where they hold.
void printCookieNames(MainWindow& window) {
    std::vector<std::string> names;
    for (const velnoria::Cookie& cookie : window.browserProfile().cookieMirror().cookies()) {
        names.push_back(cookie.name + (cookie.httpOnly ? ":httponly" : "") +
                        (cookie.expires == 0 ? ":session" : ""));
    }
    std::sort(names.begin(), names.end());
    std::string line = "cookies:";
    for (const std::string& name : names) line += " " + name;
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!((mode == "login" || mode == "visit") && argc == 3) && !(mode == "forget" && argc == 2)) {
        std::fprintf(stderr, "usage: %s login|visit ADDRESS | forget\n", argv[0]);
        return 2;
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    MainWindow window(velnoria::endProcessNow);
    if (!window.startUp("")) return 5;
    window.show();

    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { std::_Exit(4); });
    watchdog.start(60000);

    auto* exitButton = window.findChild<QPushButton*>(QStringLiteral("exit"));
    QTimer::singleShot(0, [&] {
        if (mode == "forget") {
            window.findChild<QPushButton*>(QStringLiteral("settings"))->click();
            // The question is modal: it is answered from inside its own loop.
            QTimer answer;
            QObject::connect(&answer, &QTimer::timeout, [&] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    answer.stop();
                    box->button(QMessageBox::Yes)->click();
                }
            });
            answer.start(50);
            window.settingsDialog()->forgetSiteDataButton()->click();
            if (!waitUntil([&] { return window.browserProfile().cookieMirror().size() == 0; })) {
                std::_Exit(6);
            }
            std::printf("forgotten\n");
        } else {
            window.findChild<QLineEdit*>(QStringLiteral("addressBox"))
                ->setText(QString::fromUtf8(argv[2]));
            window.findChild<QPushButton*>(QStringLiteral("go"))->click();  // waits for the page
            // The login's cookies have reached the mirror; a visit's were there from the start.
            if (mode == "login") {
                waitUntil([&] { return window.browserProfile().cookieMirror().size() > 0; });
            }
            printCookieNames(window);
        }
        QTest::mouseClick(exitButton, Qt::LeftButton);
    });
    QApplication::exec();
    return 3;
}
