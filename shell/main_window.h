#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "download/program_state.h"
#include "platform/qt/qt_desktop.h"
#include "platform/qt/qt_event_loop.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace velnoria {

class AboutDialog;
class BrowserProfile;
class LogoImage;
class QtStatusView;
class SettingsDialog;
class WebBrowser;

// The main window: the embedded browser with its navigation, the buttons of every command,
// start-up and shut-down. Everything runs on this window's thread: a long command (a page wait,
// a download job) is a loop inside its handler that yields to the event loop, and the handlers
// the user triggers meanwhile run nested inside it.
class MainWindow : public QWidget, private PageReader {
    Q_OBJECT
  public:
    // Ends the process at once with the code, from wherever it is called (nested waits included).
    using EndProgram = std::function<void(int exitCode)>;

    explicit MainWindow(EndProgram endProgram);
    ~MainWindow() override;

    // Start-up, before the window is first shown. False when the program has ended (a command
    // line without " /s:").
    bool startUp(const std::string& argumentText);

    ProgramState& state() { return state_; }
    bool startingUp() const { return startingUp_; }
    WebBrowser* browser() const { return browser_; }
    BrowserProfile& browserProfile() const { return *browserProfile_; }
    QtStatusView& statusView() { return *statusView_; }
    SettingsDialog* settingsDialog() const;
    AboutDialog* aboutDialog() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Which edge a control keeps its distance to when the window grows.
    enum class Anchor { Left, Right, Width, WidthAndHeight };
    struct Placement {
        QWidget* control;
        QRect first;  // its place at the window's first size
        Anchor anchor;
    };

    void buildControls();
    void addShortcuts();
    void placeControls();
    void showHistoryButtons();
    void setStatusLine(const QString& text, bool repaintNow);

    // The commands, one per button, and the browser's notice.
    void startDownload();
    // After a round of a watched thread: the wait, the thread's first page again in the browser,
    // the next round, until Stop ends the watching.
    void watchThread(const std::string& thread, JobResult result);
    void go();
    void goBack();
    void goForward();
    void stopLoading();
    void checkForUpdate();
    void openHomePage();
    void showSettings();
    void showAbout();
    void exitProgram();
    void onDocumentComplete();
    void shutDown();
    // The process ends: the browser and its profile are closed, so the engine writes the cookies.
    void closeBrowserForExit();
    // Waits for the browser's page as Go does; false when X or, for a job's wait (forJob),
    // Stop/Abort ended it.
    bool waitForPage(bool forJob);

    // The thread's next pages, shown in the browser as Go shows a page.
    BrowserDocument* read(const std::string& address, std::string& documentAddress,
                          std::string& error) override;

    EndProgram endProgram_;
    ProgramState state_;
    bool startingUp_ = false;
    int stopsPressed_ = 0;   // how often X was pressed: a page wait ends at the next one
    bool watching_ = false;  // a thread is watched: between its rounds no other job starts
    std::vector<Placement> placements_;

    QtEventLoop eventLoop_;
    // What the window's own waits (Go's, the browser document's) yield to: once the program is
    // there, its loop, which moves every transfer on meanwhile.
    class WaitLoop : public EventLoop {
      public:
        explicit WaitLoop(EventLoop& first) : current_(&first) {}
        void use(EventLoop& loop) { current_ = &loop; }
        void yieldOnce(std::chrono::milliseconds maxBlock) override {
            current_->yieldOnce(maxBlock);
        }
        bool stopPending() const override { return current_->stopPending(); }

      private:
        EventLoop* current_;
    } waitLoop_{eventLoop_};
    QtMessageBox messageBox_;
    QtShell shell_;
    // Before the browser, which shows its pages with it; the browser goes first (~MainWindow).
    std::unique_ptr<BrowserProfile> browserProfile_;
    std::unique_ptr<QtStatusView> statusView_;
    std::unique_ptr<Program> program_;  // made by start-up, once the settings are read
    QPointer<SettingsDialog> settingsDialog_;
    QPointer<AboutDialog> aboutDialog_;

    QPushButton* startDownload_;
    QPushButton* back_;
    QPushButton* stop_;
    QPushButton* forward_;
    QPushButton* checkUpdate_;
    LogoImage* logo_;
    QPushButton* settings_;
    QPushButton* about_;
    QPushButton* exit_;
    QLabel* statusLine_;
    QLineEdit* addressBox_;
    QPushButton* go_;
    WebBrowser* browser_;
};

}  // namespace velnoria
