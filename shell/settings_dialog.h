#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>

#include "core/choices.h"
#include "core/settings.h"
#include "platform/desktop.h"

class QCheckBox;
class QLabel;
class QSpinBox;
class QLineEdit;
class QPushButton;

namespace velnoria {

// Checks a rules file as the next job will read it: the text of an "Error" box about its
// problems, or "" when it has none.
using RulesFileCheck = std::function<std::string(const std::string& rulesFile)>;

// Deletes the browser's cookies and site data.
using ForgetSiteData = std::function<void()>;

// The Settings dialog. It edits the running program's settings: a folder picked with
// Browse takes effect at once, the two numbers and the file only with OK. Below them, the
// choices kept beside the settings file: the rules file, the linked images, the job options and
// the options of threads run again (the archive, the folder and file name templates, the
// watch), in effect and saved with OK. Escape leaves without saving; Return presses OK. At the
// bottom, "Forget cookies and site data" (after a Yes).
class SettingsDialog : public QWidget {
    Q_OBJECT
  public:
    SettingsDialog(Settings& settings, Choices& choices, MessageBox& messageBox,
                   std::filesystem::path settingsFile, RulesFileCheck checkRules = {},
                   ForgetSiteData forgetSiteData = {});

    QLineEdit* timeoutBox() const { return timeoutBox_; }
    QLineEdit* folderBox() const { return folderBox_; }
    QLineEdit* pieceSizeBox() const { return pieceSizeBox_; }
    QPushButton* browseButton() const { return browse_; }
    QPushButton* okButton() const { return ok_; }
    QCheckBox* followNextPagesBox() const { return followNextPages_; }
    QCheckBox* skipExistingBox() const { return skipExisting_; }
    QSpinBox* downloadsAtOnceBox() const { return downloadsAtOnce_; }
    QCheckBox* rememberSavedBox() const { return rememberSaved_; }
    QLineEdit* folderTemplateBox() const { return folderTemplate_; }
    QLineEdit* nameTemplateBox() const { return nameTemplate_; }
    QSpinBox* watchMinutesBox() const { return watchMinutes_; }
    QLineEdit* rulesBox() const { return rulesBox_; }
    QPushButton* rulesBrowseButton() const { return rulesBrowse_; }
    QCheckBox* linkedImagesBox() const { return linkedImages_; }
    QPushButton* forgetSiteDataButton() const { return forgetSiteData_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void showValues();
    void showFolder(const QString& folder);
    void browseForFolder();
    void browseForRules();
    void saveAndClose();
    bool templatesUsable();
    bool saveChoices();
    void askToForgetSiteData();

    Settings& settings_;
    Choices& choices_;
    MessageBox& messageBox_;
    std::filesystem::path settingsFile_;
    RulesFileCheck checkRules_;
    ForgetSiteData forget_;
    QLabel* timeoutLabel_;
    QLineEdit* timeoutBox_;
    QLabel* pieceSizeLabel_;
    QLineEdit* pieceSizeBox_;
    QLabel* folderLabel_;
    QLineEdit* folderBox_;
    QPushButton* browse_;
    QPushButton* ok_;
    QLabel* rulesLabel_;
    QLineEdit* rulesBox_;
    QPushButton* rulesBrowse_;
    QCheckBox* linkedImages_;
    QCheckBox* followNextPages_;
    QCheckBox* skipExisting_;
    QLabel* downloadsAtOnceLabel_;
    QSpinBox* downloadsAtOnce_;
    QCheckBox* rememberSaved_;
    QLabel* folderTemplateLabel_;
    QLineEdit* folderTemplate_;
    QLabel* nameTemplateLabel_;
    QLineEdit* nameTemplate_;
    QLabel* watchMinutesLabel_;
    QSpinBox* watchMinutes_;
    QPushButton* forgetSiteData_;
};

}  // namespace velnoria
