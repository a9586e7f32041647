#pragma once

#include <QWidget>
#include <filesystem>

#include "core/job_options.h"
#include "core/settings.h"
#include "platform/desktop.h"

class QCheckBox;
class QLabel;
class QSpinBox;
class QLineEdit;
class QPushButton;

namespace velnoria {

// The Settings dialog. It edits the running program's settings: a folder picked with
// Browse takes effect at once, the two numbers and the file only with OK. Below them, the job
// options kept in "choices.conf" beside the settings file, in effect and saved with OK.
class SettingsDialog : public QWidget {
    Q_OBJECT
  public:
    SettingsDialog(Settings& settings, JobOptions& options, MessageBox& messageBox,
                   std::filesystem::path settingsFile);

    QLineEdit* timeoutBox() const { return timeoutBox_; }
    QLineEdit* folderBox() const { return folderBox_; }
    QLineEdit* pieceSizeBox() const { return pieceSizeBox_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* okButton() const { return ok_; }
    QCheckBox* followNextPagesBox() const { return followNextPages_; }
    QCheckBox* skipExistingBox() const { return skipExisting_; }
    QSpinBox* downloadsAtOnceBox() const { return downloadsAtOnce_; }

  private:
    void showValues();
    void browseForFolder();
    void saveAndClose();

    Settings& settings_;
    JobOptions& options_;
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
    QCheckBox* followNextPages_;
    QCheckBox* skipExisting_;
    QLabel* downloadsAtOnceLabel_;
    QSpinBox* downloadsAtOnce_;
};

}  // namespace velnoria
