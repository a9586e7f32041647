#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "download/program_state.h"
#include "download/status_window.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_message_box.h"
#include "platform/qt/qt_shell.h"
#include "shell/network_parts.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace velnoria {

class AboutDialog;
class LogoImage;
class QtStatusView;
class SettingsDialog;
class WebBrowser;

// Form1, the main window: browsing, the buttons of every command, start-up and shut-down.
class MainWindow : public QWidget {
    Q_OBJECT
  public:
    // Ends the process at once with the code, from wherever it is called (nested waits included).
    using EndProgram = std::function<void(int exitCode)>;

    explicit MainWindow(EndProgram endProgram);
    ~MainWindow() override;

    // Start-up, before the window is first shown. False when the program has ended (a command
    // line without " /s:").
    bool Form_Load(const std::string& argumentText);

    ProgramState& program() { return program_; }
    bool startingUp() const { return startingUp_; }
    WebBrowser* browser() const { return webBrowser1_; }
    QtStatusView& statusView() { return *statusView_; }
    SettingsDialog* settingsDialog() const;
    AboutDialog* aboutDialog() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void buildControls();
    void setStatusLine(const QString& text, bool repaintNow);

    // Handlers, named after their controls.
    void Download_Click();
    void Go_Click();
    void Back_Click();
    void Forward_Click();
    void Stop_Click();
    void Check_update_Click();
    void Image1_Click();
    void Settings_Click();
    void About_Click();
    void Exit_Click();
    void WebBrowser1_DocumentComplete();
    void Form_Unload();

    EndProgram endProgram_;
    ProgramState program_;
    bool startingUp_ = false;

    QtEventLoop eventLoop_;
    QtMessageBox messageBox_;
    QtShell shell_;
    std::unique_ptr<NetworkParts> network_;
    std::unique_ptr<QtStatusView> statusView_;
    std::unique_ptr<StatusWindow> statusWindow_;
    QPointer<SettingsDialog> form3_;
    QPointer<AboutDialog> form2_;

    QPushButton* download_;
    QPushButton* back_;
    QPushButton* stop_;
    QPushButton* forward_;
    QPushButton* checkUpdate_;
    LogoImage* image1_;
    QPushButton* settings_;
    QPushButton* about_;
    QPushButton* exit_;
    QLabel* label1_;
    QLineEdit* text1_;
    QPushButton* go_;
    WebBrowser* webBrowser1_;
};

}  // namespace velnoria
