#include "tests/gui/gui_test_support.h"

#include <signal.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/support/own_display.h"

namespace velnoria::testing {

namespace fs = std::filesystem;

QApplication& guiApp() {
    static int argc = 1;
    static char name[] = "velnoria-gui-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        // Tests running at the same time do not meet on a display.
        if (const std::string& problem = startOwnDisplay(); !problem.empty()) {
            std::fprintf(stderr, "No display of its own, the one given is shared: %s\n",
                         problem.c_str());
        }
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        return new QApplication(argc, argv);
    }();
    return *app;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

ScopedWorkFolder::ScopedWorkFolder() : previous_(fs::current_path()) {
    std::random_device random;
    path_ = fs::temp_directory_path() /
            ("velnoria-gui-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
    fs::create_directories(path_);
    fs::current_path(path_);
}

ScopedWorkFolder::~ScopedWorkFolder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(path_, ignored);
}

ModalAnswerer::ModalAnswerer() : questionAnswer_(QMessageBox::No) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start(50);
}

ModalAnswerer::~ModalAnswerer() {
    timer_.stop();
}

void ModalAnswerer::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        SeenBox seen{box->windowTitle(), box->text(), static_cast<int>(box->icon())};
        boxes_.push_back(seen);
        if (onBox_) onBox_(seen);
        // Answered from the event loop the box runs, after this timer's turn.
        QAbstractButton* answer = box->button(QMessageBox::Ok);
        if (answer == nullptr) {
            answer = box->button(static_cast<QMessageBox::StandardButton>(questionAnswer_));
        }
        if (answer != nullptr) QTimer::singleShot(0, box, [answer] { answer->click(); });
        return;
    }
    if (otherDialog_) otherDialog_(modal);
}

ScopedWindowManager::ScopedWindowManager() {
    const char* const program = "/usr/bin/openbox";
    // On a shared display it would take the windows of every test running there.
    guiApp();
    if (const std::string& problem = startOwnDisplay(); !problem.empty()) {
        problem_ = "no display of its own for openbox: " + problem;
        return;
    }
    if (::access(program, X_OK) != 0) {
        problem_ = std::string(program) + " is missing: scripts/install-deps installs it";
        return;
    }
    process_ = std::make_unique<ChildProcess>(program, std::vector<std::string>{}, folder_.path());
    // Managed, a window gets a frame; openbox also takes on the windows shown before it ran.
    QWidget probe;
    probe.resize(100, 100);
    probe.show();
    running_ = waitUntil([&] { return !probe.windowHandle()->frameMargins().isNull(); },
                         std::chrono::seconds{20});
    if (!running_) problem_ = "openbox did not take the display in time";
}

ScopedWindowManager::~ScopedWindowManager() {
    if (process_ == nullptr) return;
    process_->signal(SIGTERM);
    process_->finish(std::chrono::seconds{10});
    // Its windows' frames go away with it.
    QCoreApplication::processEvents();
}

bool ScopedWindowManager::askToMinimise(const QWidget& window) const {
    return askXdotool("windowminimize", window);
}

bool ScopedWindowManager::askToActivate(const QWidget& window) const {
    return askXdotool("windowactivate", window);
}

bool ScopedWindowManager::askXdotool(const char* command, const QWidget& window) const {
    const TempFolder folder;
    const ChildResult result =
        runChild("/usr/bin/xdotool", {command, std::to_string(window.winId())}, folder.path(),
                 std::chrono::seconds{20});
    return result.exitCode == 0;
}

RecordingOpener& RecordingOpener::instance() {
    static RecordingOpener opener;
    return opener;
}

void RecordingOpener::clear() const {
    std::error_code ignored;
    fs::remove(log_, ignored);
}

RecordingOpener::RecordingOpener() {
    std::random_device random;
    folder_ = fs::temp_directory_path() /
              ("velnoria-opener-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
    fs::create_directories(folder_);
    log_ = folder_ / "opened.log";
    const fs::path script = folder_ / "xdg-open";
    {
        std::ofstream out(script);
        out << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '" << log_.string()
            << "'; done\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    if (const char* path = std::getenv("PATH")) previousPath_ = path;
    const std::string path = folder_.string() + ":" + previousPath_;
    ::setenv("PATH", path.c_str(), 1);
}

RecordingOpener::~RecordingOpener() {
    ::setenv("PATH", previousPath_.c_str(), 1);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

std::vector<std::string> RecordingOpener::opened() const {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool RecordingOpener::waitForOpened(std::size_t count, std::chrono::milliseconds timeout) const {
    return waitUntil([&] { return opened().size() >= count; }, timeout);
}

}  // namespace velnoria::testing
