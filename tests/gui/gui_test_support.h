#pragma once

#include <QString>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

class QApplication;
class QWidget;

namespace velnoria::testing {

// The one QApplication of a test process, made on first use (never while tests are listed), on a
// display of the process's own (startOwnDisplay).
QApplication& guiApp();

// Makes sure the application exists; put it before members that need it.
struct UsesGuiApp {
    UsesGuiApp() { guiApp(); }
};

// Processes events until the condition holds; false when the time ran out first.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds{20});

// A fresh temporary folder that is the process's current folder while the object lives.
class ScopedWorkFolder {
  public:
    ScopedWorkFolder();
    ~ScopedWorkFolder();
    ScopedWorkFolder(const ScopedWorkFolder&) = delete;
    ScopedWorkFolder& operator=(const ScopedWorkFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

// What a message box looked like when it was answered.
struct SeenBox {
    QString title;
    QString text;
    int icon = 0;  // QMessageBox::Icon
};

// Watches for modal message boxes and presses their OK button, recording each; a question
// without one gets the answer set here (No unless told). A handler can answer other modal
// dialogs (a folder picker) instead.
class ModalAnswerer {
  public:
    ModalAnswerer();
    ~ModalAnswerer();

    const std::vector<SeenBox>& boxes() const { return boxes_; }
    // Called with any other modal window; it must close it.
    void onOtherDialog(std::function<void(QWidget*)> handler) { otherDialog_ = std::move(handler); }
    // Called just before a box is answered, e.g. to look at the windows behind it.
    void onBox(std::function<void(const SeenBox&)> handler) { onBox_ = std::move(handler); }
    // The button pressed in a box without OK (a QMessageBox::StandardButton).
    void answerQuestionsWith(int button) { questionAnswer_ = button; }

  private:
    void poll();

    QTimer timer_;
    std::vector<SeenBox> boxes_;
    std::function<void(QWidget*)> otherDialog_;
    std::function<void(const SeenBox&)> onBox_;
    int questionAnswer_;
};

// A window manager (openbox) on the test's display while the object lives, for what only a
// window manager does: minimising, maximising, keeping a dialog with its owner. The constructor
// returns once it manages windows. A test that needs it asserts running(): without it the test
// fails, it is not skipped. It runs only on a display of the process's own.
class ScopedWindowManager {
  public:
    ScopedWindowManager();
    ~ScopedWindowManager();
    ScopedWindowManager(const ScopedWindowManager&) = delete;
    ScopedWindowManager& operator=(const ScopedWindowManager&) = delete;

    // False when openbox is missing or did not take the display in time.
    bool running() const { return running_; }
    const std::string& problem() const { return problem_; }

    // Ask the window manager to minimise a window, or to bring it back and activate it, as a
    // task bar does (through xdotool). The window manager decides; false when the request
    // could not be sent.
    bool askToMinimise(const QWidget& window) const;
    bool askToActivate(const QWidget& window) const;

  private:
    bool askXdotool(const char* command, const QWidget& window) const;

    TempFolder folder_;
    std::unique_ptr<ChildProcess> process_;
    bool running_ = false;
    std::string problem_;
};

// A stand-in "xdg-open" first on PATH that records every argument it is given, one per line.
// One per process, since the desktop services remember the opener they found first.
class RecordingOpener {
  public:
    static RecordingOpener& instance();

    void clear() const;
    std::vector<std::string> opened() const;
    bool waitForOpened(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds{10}) const;

  private:
    RecordingOpener();
    ~RecordingOpener();

    std::filesystem::path folder_;
    std::filesystem::path log_;
    std::string previousPath_;
};

}  // namespace velnoria::testing
