#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>

#include "shell/about_dialog.h"
#include "shell/command_line.h"
#include "shell/main_window.h"
#include "platform/program_identity.h"
#include "shell/settings/startup_settings.h"
#include "shell/settings_dialog.h"
#include "shell/status_form.h"
#include "shell/web_browser.h"
#include "shell/window_style.h"

namespace velnoria {

bool MainWindow::Form_Load(const std::string& argumentText) {
    startingUp_ = true;
    program_.settings = loadStartupSettings(program_.workFolder, [this](const std::string& text) {
        messageBox_.show("Error", text, MessageIcon::Critical);
    });
    if (!commandLineAllowsStart(argumentText)) {
        endProgram_(1);
        return false;
    }
    statusView_->createHidden();
    setWindowTitle(QString::fromUtf8(kProgramCaption));
    network_ = makeNetworkParts(eventLoop_, program_.settings.timeoutSeconds);
    network_->inet->setTimeoutSeconds(program_.settings.timeoutSeconds);
    download_->setEnabled(false);
    setStatusLine(QStringLiteral("Status"), false);
    webBrowser1_->Navigate2(QStringLiteral("about:blank"));
    while (webBrowser1_->ReadyState() != WebBrowser::kComplete) {
        eventLoop_.yieldOnce(std::chrono::milliseconds{10});
    }
    text1_->clear();
    text1_->repaint();
    Check_update_Click();
    startingUp_ = false;
    centreOnScreen(this);
    return true;
}

void MainWindow::Form_Unload() {
    // Every window goes, then the process ends at once, even from inside a job or a page wait.
    if (StatusForm* status = statusView_->form()) status->hide();
    if (!form3_.isNull()) form3_->hide();
    if (!form2_.isNull()) form2_->hide();
    hide();
    endProgram_(0);
}

void MainWindow::Exit_Click() {
    close();
}

}  // namespace velnoria
