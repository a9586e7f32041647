#pragma once

#include <QWidget>
#include <filesystem>

#include "download/settings.h"
#include "platform/desktop.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace velnoria {

// Form3, the Settings dialog. It edits the running program's settings: a folder picked with
// Browse takes effect at once, the two numbers and the file only with OK.
class SettingsDialog : public QWidget {
    Q_OBJECT
  public:
    SettingsDialog(Settings& settings, MessageBox& messageBox, std::filesystem::path settingsFile);

    QLineEdit* timeoutBox() const { return text1_; }
    QLineEdit* folderBox() const { return text2_; }
    QLineEdit* pieceSizeBox() const { return text3_; }
    QPushButton* browseButton() const { return command1_; }
    QPushButton* okButton() const { return command2_; }

  private:
    void Form_Load();
    void Command1_Click();
    void Command2_Click();

    Settings& settings_;
    MessageBox& messageBox_;
    std::filesystem::path settingsFile_;
    QLabel* label1_;
    QLineEdit* text1_;
    QLabel* label3_;
    QLineEdit* text3_;
    QLabel* label2_;
    QLineEdit* text2_;
    QPushButton* command1_;
    QPushButton* command2_;
};

}  // namespace velnoria
