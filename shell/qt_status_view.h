#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

#include "platform/status_view.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace velnoria {

// The status window on the desktop: renders the status window's model in a window of its own,
// owned by the main window. Every job gets a fresh window, and every change is painted at once,
// since the job does not return to the event loop between its steps.
class QtStatusView : public StatusView {
  public:
    // The window itself. It has no close button and refuses to be closed; only the end of the
    // job closes it. It stays with its owner: minimised, it comes back at once, unless its owner
    // was minimised with it, and then it comes back with its owner. (openbox minimises a
    // dialog's owner with it: the owner's task-bar entry brings both back.)
    class Window : public QWidget {
      public:
        Window(QWidget* owner, std::function<void()> pauseClick, std::function<void()> stopClick);

        // One line per transfer in hand, in an area below the buttons that is there only while
        // some run; without it the window has its first size.
        void showTransfers(const std::vector<TransferRow>& rows);

        QPlainTextEdit* log() const { return log_; }
        QLabel* counter() const { return counter_; }
        QProgressBar* progressBar() const { return progressBar_; }
        QPushButton* pauseButton() const { return pause_; }
        QPushButton* stopButton() const { return stop_; }
        QLabel* transfers() const { return transfers_; }

      protected:
        void closeEvent(QCloseEvent* event) override;
        void changeEvent(QEvent* event) override;
        bool eventFilter(QObject* watched, QEvent* event) override;

      private:
        void restoreUnlessOwnerMinimised();

        QWidget* owner_;
        QPlainTextEdit* log_;
        QLabel* counter_;
        QProgressBar* progressBar_;
        QPushButton* pause_;
        QPushButton* stop_;
        QLabel* transfers_;
        int transferLines_ = 0;
    };

    explicit QtStatusView(QWidget* owner);
    ~QtStatusView() override;

    // The buttons' handlers (the model's pauseClick and stopClick).
    void setHandlers(std::function<void()> pauseClick, std::function<void()> stopClick);

    void open() override;
    void close() override;
    void setLog(const std::string& text) override;
    void appendLog(const std::string& text) override;
    void setCounter(const std::string& text) override;
    void setProgress(double minimum, double maximum, double value) override;
    void setPauseCaption(const std::string& caption) override;
    void setStopEnabled(bool enabled) override;
    void showTransfers(const std::vector<TransferRow>& rows) override;

    // The window of the job that runs now (or the hidden one made at start-up); may be null.
    Window* window() const { return window_; }
    // Makes the hidden window start-up asks for, with an empty log.
    void createHidden();

  private:
    Window* ensureWindow();

    QWidget* owner_;
    QPointer<Window> window_;
    std::function<void()> pauseClick_;
    std::function<void()> stopClick_;
};

}  // namespace velnoria
