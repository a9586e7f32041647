#include "shell/settings_dialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/text.h"
#include "platform/qt/qt_text.h"
#include "shell/window_style.h"

namespace velnoria {

SettingsDialog::SettingsDialog(Settings& settings, Choices& choices, MessageBox& messageBox,
                               std::filesystem::path settingsFile, RulesFileCheck checkRules)
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      settings_(settings),
      choices_(choices),
      messageBox_(messageBox),
      settingsFile_(std::move(settingsFile)),
      checkRules_(std::move(checkRules)),
      timeoutLabel_(new QLabel(QStringLiteral("Timeout (seconds)"), this)),
      timeoutBox_(new QLineEdit(this)),
      pieceSizeLabel_(new QLabel(QStringLiteral("Piece size (bytes)"), this)),
      pieceSizeBox_(new QLineEdit(this)),
      folderLabel_(new QLabel(QStringLiteral("Select save folder"), this)),
      folderBox_(new QLineEdit(this)),
      browse_(new QPushButton(QStringLiteral("Browse"), this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)),
      rulesLabel_(new QLabel(QStringLiteral("Rules file"), this)),
      rulesBox_(new QLineEdit(this)),
      rulesBrowse_(new QPushButton(QStringLiteral("Browse"), this)),
      linkedImages_(new QCheckBox(
          // Two lines: the dialog keeps its width.
          QStringLiteral("Also save full-size images that\nthumbnails link to"), this)) {
    setObjectName(QStringLiteral("settingsDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Settings"));
    // The described controls keep their places; the choices beside them come below.
    setFixedSize(twipsSize(5076, 4800));
    paintBackground(this, QColor(64, 64, 64));

    timeoutLabel_->setObjectName(QStringLiteral("timeoutLabel"));
    timeoutLabel_->setGeometry(twipsRect(240, 360, 1692, 252));
    timeoutBox_->setObjectName(QStringLiteral("timeoutBox"));
    timeoutBox_->setGeometry(twipsRect(2160, 360, 372, 288));
    pieceSizeLabel_->setObjectName(QStringLiteral("pieceSizeLabel"));
    pieceSizeLabel_->setGeometry(twipsRect(240, 840, 1692, 252));
    pieceSizeLabel_->setToolTip(
        QStringLiteral("Choose smaller value for slow connection and larger for faster"));
    pieceSizeBox_->setObjectName(QStringLiteral("pieceSizeBox"));
    pieceSizeBox_->setGeometry(twipsRect(2160, 840, 852, 288));
    folderLabel_->setObjectName(QStringLiteral("folderLabel"));
    folderLabel_->setGeometry(twipsRect(240, 1560, 2772, 252));
    folderBox_->setObjectName(QStringLiteral("folderBox"));
    folderBox_->setGeometry(twipsRect(240, 1920, 2772, 288));
    browse_->setObjectName(QStringLiteral("browse"));
    browse_->setGeometry(twipsRect(3240, 1920, 1332, 372));
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setGeometry(twipsRect(2040, 2640, 972, 372));
    rulesLabel_->setObjectName(QStringLiteral("rulesLabel"));
    rulesLabel_->setGeometry(twipsRect(240, 3240, 2772, 252));
    rulesLabel_->setToolTip(
        QStringLiteral("Host rules tried before the built-in ones (see docs/rules.md)"));
    rulesBox_->setObjectName(QStringLiteral("rulesBox"));
    rulesBox_->setGeometry(twipsRect(240, 3600, 2772, 288));
    rulesBrowse_->setObjectName(QStringLiteral("rulesBrowse"));
    rulesBrowse_->setGeometry(twipsRect(3240, 3600, 1332, 372));
    linkedImages_->setObjectName(QStringLiteral("linkedImages"));
    linkedImages_->setGeometry(twipsRect(240, 4080, 4596, 492));
    for (QWidget* label : std::initializer_list<QWidget*>{
             timeoutLabel_, folderLabel_, pieceSizeLabel_, rulesLabel_, linkedImages_}) {
        paintLabelFace(label);
    }
    for (QLineEdit* box : {timeoutBox_, folderBox_, pieceSizeBox_, rulesBox_}) {
        box->setTextMargins(0, 0, 0, 0);
    }

    setTabOrder(timeoutBox_, folderBox_);
    setTabOrder(folderBox_, browse_);
    setTabOrder(browse_, ok_);
    setTabOrder(ok_, pieceSizeBox_);
    setTabOrder(pieceSizeBox_, rulesBox_);
    setTabOrder(rulesBox_, rulesBrowse_);
    setTabOrder(rulesBrowse_, linkedImages_);

    connect(browse_, &QPushButton::clicked, this, [this] { browseForFolder(); });
    connect(rulesBrowse_, &QPushButton::clicked, this, [this] { browseForRules(); });
    connect(ok_, &QPushButton::clicked, this, [this] { saveAndClose(); });
    showValues();
}

void SettingsDialog::showValues() {
    timeoutBox_->setText(QString::number(settings_.timeoutSeconds));
    folderBox_->setText(QString::fromUtf8(settings_.savePath.c_str()));
    pieceSizeBox_->setText(QString::number(settings_.pieceSize));
    rulesBox_->setText(QString::fromUtf8(choices_.rulesFile.c_str()));
    linkedImages_->setChecked(choices_.linkedImages);
}

void SettingsDialog::browseForFolder() {
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Select Folder"),
                                                             QString(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return;
    // The folder counts from now on, whether or not OK follows.
    settings_.savePath = fromQString(folder);
    folderBox_->setText(folder);
    folderBox_->repaint();
}

void SettingsDialog::browseForRules() {
    const QString current = rulesBox_->text();
    const QString file = QFileDialog::getOpenFileName(
        this, QStringLiteral("Select Rules File"),
        current.isEmpty() ? QString() : QFileInfo(current).absolutePath(),
        QStringLiteral("Rules files (*.toml);;All files (*)"));
    // Unlike the folder, the rules file counts only with OK, as what is typed into its box does.
    if (!file.isEmpty()) rulesBox_->setText(file);
}

bool SettingsDialog::saveChoices() {
    Choices choices = choices_;
    choices.rulesFile = std::string(trim(fromQString(rulesBox_->text())));
    choices.linkedImages = linkedImages_->isChecked();
    if (!choices.rulesFile.empty() && checkRules_) {
        const std::string problems = checkRules_(choices.rulesFile);
        // Shown, and the file kept: the job runs with its good rules.
        if (!problems.empty()) messageBox_.show("Error", problems, MessageIcon::Critical);
    }
    if (choices == choices_) return true;
    choices_ = choices;
    return writeChoicesFile(settingsFile_.parent_path() / kChoicesFileName, choices_);
}

void SettingsDialog::saveAndClose() {
    const SettingsDialogInput input = readSettingsDialogInput(fromQString(timeoutBox_->text()),
                                                              fromQString(pieceSizeBox_->text()));
    if (!input.accepted) {
        messageBox_.show("Error", input.errorText, MessageIcon::Critical);
        return;
    }
    settings_.timeoutSeconds = input.timeoutSeconds;
    settings_.pieceSize = input.pieceSize;
    if (!writeSettingsFile(settingsFile_, settings_)) {
        messageBox_.show("Error", "The settings cannot be saved in \"settings.dat\".",
                         MessageIcon::Critical);
    }
    if (!saveChoices()) {
        messageBox_.show("Error",
                         std::string("The choices cannot be saved in \"") + kChoicesFileName +
                             "\"; they count until the program ends.",
                         MessageIcon::Critical);
    }
    close();
}

}  // namespace velnoria
