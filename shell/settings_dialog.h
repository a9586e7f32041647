#pragma once

#include <QWidget>
#include <filesystem>

#include "core/settings.h"
#include "platform/desktop.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace velnoria {

// The Settings dialog. It edits the running program's settings: a folder picked with
// Browse takes effect at once, the two numbers and the file only with OK.
class SettingsDialog : public QWidget {
    Q_OBJECT
  public:
    SettingsDialog(Settings& settings, MessageBox& messageBox, std::filesystem::path settingsFile);

    QLineEdit* timeoutBox() const { return timeoutBox_; }
    QLineEdit* folderBox() const { return folderBox_; }
    QLineEdit* pieceSizeBox() const { return pieceSizeBox_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* okButton() const { return ok_; }

  private:
    void showValues();
    void browseForFolder();
    void saveAndClose();

    Settings& settings_;
    MessageBox& messageBox_;
    std::filesystem::path settingsFile_;
    QLabel* timeoutLabel_;
    QLineEdit* timeoutBox_;
    QLabel* pieceSizeLabel_;
    QLineEdit* pieceSizeBox_;
    QLabel* folderLabel_;
    QLineEdit* folderBox_;
    QPushButton* browse_;
    QPushButton* ok_;
};

}  // namespace velnoria
