#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "shell/main_window.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_http_server.h"

namespace velnoria::testing {

inline constexpr const char* kVersionFile = "http://www.velnoria.example/velnoria/version.txt";

// A main window started in a fresh current folder, every request of the program going to a
// loopback server through http_proxy, message boxes answered and recorded, and a stand-in
// opener. Ending the program is recorded instead of done.
class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() {
        RecordingOpener::instance().clear();
        server.route(kVersionFile, Reply::ok("2.2\r\n", "text/plain"));
        // Nothing here may hang: a stuck wait fails the test instead.
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] {
            ADD_FAILURE() << "watchdog: the test did not end in time";
            std::abort();
        });
        watchdog.start(60000);
    }

    // Creates the main window and runs its start-up; shows it when start-up goes on.
    MainWindow& start(const std::string& arguments = "") {
        window = std::make_unique<MainWindow>([this](int code) { endCodes.push_back(code); });
        started = window->startUp(arguments);
        if (started) window->show();
        return *window;
    }

    template <class T>
    T* control(const char* name) {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    QLineEdit* addressBox() { return control<QLineEdit>("addressBox"); }
    QLabel* statusLine() { return control<QLabel>("statusLine"); }
    QPushButton* button(const char* name) { return control<QPushButton>(name); }

    // Types an address and presses Go; returns once the page wait has ended.
    void go(const std::string& address);

    UsesGuiApp app;
    ScopedWorkFolder work;
    // The browser's profile (cookies, site data) lives under this home, one for each test.
    ScopedEnv home{"HOME", (work.path() / "home").string()};
    ScopedEnv dataHome{"XDG_DATA_HOME", std::nullopt};
    ScopedEnv cacheHome{"XDG_CACHE_HOME", std::nullopt};
    TestHttpServer server;
    ScopedProxy proxy{server};
    ModalAnswerer answerer;
    QTimer watchdog;
    std::vector<int> endCodes;
    bool started = false;
    std::unique_ptr<MainWindow> window;
};

// A thread page with the given image addresses.
std::string pageWithImages(const std::vector<std::string>& sources);

}  // namespace velnoria::testing
