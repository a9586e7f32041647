#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "platform/status_view.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace velnoria {

// Form4, the window that accompanies a download job. It has no close button and refuses to be
// closed; only the job closes it.
class StatusForm : public QWidget {
    Q_OBJECT
  public:
    StatusForm(QWidget* owner, std::function<void()> pauseClick, std::function<void()> stopClick);

    QPlainTextEdit* log() const { return text1_; }
    QLabel* counter() const { return label1_; }
    QProgressBar* progressBar() const { return progressBar1_; }
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* stopButton() const { return stop_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QPlainTextEdit* text1_;
    QLabel* label1_;
    QProgressBar* progressBar1_;
    QPushButton* pause_;
    QPushButton* stop_;
};

// Renders the status window's model in a StatusForm: every job gets a fresh window, and every
// change is painted at once, since the job does not return to the event loop between its steps.
class QtStatusView : public StatusView {
  public:
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

    // The window of the job that runs now (or the hidden one made at start-up); may be null.
    StatusForm* form() const { return form_; }
    // Makes the hidden window start-up asks for, with an empty log.
    void createHidden();

  private:
    StatusForm* ensureForm();

    QWidget* owner_;
    QPointer<StatusForm> form_;
    std::function<void()> pauseClick_;
    std::function<void()> stopClick_;
};

}  // namespace velnoria
