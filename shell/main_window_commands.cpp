#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "download/download_job.h"
#include "platform/qt/qt_text.h"
#include "shell/about_dialog.h"
#include "shell/about_text.h"
#include "shell/main_window.h"
#include "platform/program_identity.h"
#include "shell/settings/startup_settings.h"
#include "shell/settings_dialog.h"
#include "shell/web_browser.h"
#include "shell/window_style.h"
#include "update/update_check.h"

namespace velnoria {

void MainWindow::Download_Click() {
    // One job at a time; the button is disabled meanwhile, but a queued click must not start
    // a second job nested in the first.
    if (program_.jobRunning || network_ == nullptr) return;
    download_->setEnabled(false);
    download_->repaint();
    JobServices services{*network_->inet, *network_->urlDownload,   *network_->urlCache, eventLoop_,
                         *statusWindow_,  webBrowser1_->document(), messageBox_,         shell_};
    runDownloadJob(program_, services, fromQString(text1_->text()));
}

void MainWindow::Check_update_Click() {
    if (network_ == nullptr) return;
    UpdateCheckServices services{
        [this](const std::string& text) { setStatusLine(toDisplayText(text), true); }, messageBox_,
        shell_, *network_->urlDownload, program_.workFolder};
    checkForUpdate(services, startingUp_);
}

void MainWindow::Image1_Click() {
    shell_.openUrl(kHomePage);
}

void MainWindow::Settings_Click() {
    if (form3_.isNull()) {
        form3_ = new SettingsDialog(program_.settings, messageBox_,
                                    program_.workFolder / kSettingsFileName);
    }
    form3_->show();
    form3_->raise();
    form3_->activateWindow();
}

void MainWindow::About_Click() {
    if (form2_.isNull()) {
        form2_ = new AboutDialog(shell_);
        centreOn(form2_, this);
    }
    form2_->showText(aboutText());
    form2_->show();
    form2_->raise();
    form2_->activateWindow();
}

}  // namespace velnoria
