#include "shell/settings_dialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>

#include "core/save_folder.h"
#include "core/text.h"
#include "download/name_templates.h"
#include "platform/qt/qt_text.h"
#include "shell/window_style.h"

namespace velnoria {

namespace {

// The dialog's width, and the room below its lowest control.
constexpr int kDialogWidth = twipsToPixels(5076);
constexpr int kBottomMargin = twipsToPixels(168);

constexpr const char* kTemplateFields = "Fields: {title} {host} {page} {index} {name} {ext} {date}";

}  // namespace

SettingsDialog::SettingsDialog(Settings& settings, Choices& choices, MessageBox& messageBox,
                               std::filesystem::path settingsFile, RulesFileCheck checkRules,
                               ForgetSiteData forgetSiteData)
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      settings_(settings),
      choices_(choices),
      messageBox_(messageBox),
      settingsFile_(std::move(settingsFile)),
      checkRules_(std::move(checkRules)),
      forget_(std::move(forgetSiteData)),
      timeoutLabel_(new QLabel(QStringLiteral("Timeout (seconds)"), this)),
      timeoutBox_(new QLineEdit(this)),
      pieceSizeLabel_(new QLabel(QStringLiteral("Piece size (bytes)"), this)),
      pieceSizeBox_(new QLineEdit(this)),
      folderLabel_(new QLabel(QStringLiteral("Select save folder"), this)),
      folderBox_(new QLineEdit(this)),
      browse_(new QPushButton(QStringLiteral("&Browse"), this)),
      ok_(new QPushButton(QStringLiteral("&OK"), this)),
      rulesLabel_(new QLabel(QStringLiteral("Rules file"), this)),
      rulesBox_(new QLineEdit(this)),
      rulesBrowse_(new QPushButton(QStringLiteral("B&rowse"), this)),
      linkedImages_(new QCheckBox(
          // Two lines: the dialog keeps its width.
          QStringLiteral("&Also save full-size images that\nthumbnails link to"), this)),
      followNextPages_(new QCheckBox(QStringLiteral("&Follow the thread's next pages"), this)),
      skipExisting_(new QCheckBox(QStringLiteral("&Skip files already saved"), this)),
      downloadsAtOnceLabel_(new QLabel(QStringLiteral("Downloads at once"), this)),
      downloadsAtOnce_(new QSpinBox(this)),
      rememberSaved_(new QCheckBox(QStringLiteral("Re&member what was saved"), this)),
      folderTemplateLabel_(new QLabel(QStringLiteral("Fol&der for each thread"), this)),
      folderTemplate_(new QLineEdit(this)),
      nameTemplateLabel_(new QLabel(QStringLiteral("File &names"), this)),
      nameTemplate_(new QLineEdit(this)),
      watchMinutesLabel_(
          new QLabel(QStringLiteral("&Check the thread again every\nN minutes (0: never)"), this)),
      watchMinutes_(new QSpinBox(this)),
      forgetSiteData_(new QPushButton(QStringLiteral("Forget cookies and site data"), this)) {
    setObjectName(QStringLiteral("settingsDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Settings"));
    paintBackground(this, QColor(64, 64, 64));

    // Top to bottom, in twips. The described controls keep their places (the time-out box is
    // wide enough for three digits); the choices beside them come below. The dialog's height
    // follows the lowest control, so more can join at the bottom.
    struct Placement {
        QWidget* control;
        const char* name;
        QRect place;
    };
    const Placement placements[] = {
        {timeoutLabel_, "timeoutLabel", twipsRect(240, 360, 1692, 252)},
        {timeoutBox_, "timeoutBox", twipsRect(2160, 360, 852, 288)},
        {pieceSizeLabel_, "pieceSizeLabel", twipsRect(240, 840, 1692, 252)},
        {pieceSizeBox_, "pieceSizeBox", twipsRect(2160, 840, 852, 288)},
        {folderLabel_, "folderLabel", twipsRect(240, 1560, 2772, 252)},
        {folderBox_, "folderBox", twipsRect(240, 1920, 2772, 288)},
        {browse_, "browse", twipsRect(3240, 1920, 1332, 372)},
        {ok_, "ok", twipsRect(2040, 2640, 972, 372)},
        {rulesLabel_, "rulesLabel", twipsRect(240, 3240, 2772, 252)},
        {rulesBox_, "rulesBox", twipsRect(240, 3600, 2772, 288)},
        {rulesBrowse_, "rulesBrowse", twipsRect(3240, 3600, 1332, 372)},
        {linkedImages_, "linkedImages", twipsRect(240, 4080, 4596, 492)},
        // The job options.
        {followNextPages_, "followNextPages", twipsRect(240, 4680, 4596, 300)},
        {skipExisting_, "skipExisting", twipsRect(240, 5040, 4596, 300)},
        {downloadsAtOnceLabel_, "downloadsAtOnceLabel", twipsRect(240, 5460, 1860, 252)},
        {downloadsAtOnce_, "downloadsAtOnce", twipsRect(2160, 5400, 852, 372)},
        // Threads run again: what was saved, where and under which names, and the watch.
        {rememberSaved_, "rememberSaved", twipsRect(240, 5880, 4596, 300)},
        {folderTemplateLabel_, "folderTemplateLabel", twipsRect(240, 6300, 2772, 252)},
        {folderTemplate_, "folderTemplate", twipsRect(240, 6660, 4332, 288)},
        {nameTemplateLabel_, "nameTemplateLabel", twipsRect(240, 7080, 2772, 252)},
        {nameTemplate_, "nameTemplate", twipsRect(240, 7440, 4332, 288)},
        {watchMinutesLabel_, "watchMinutesLabel", twipsRect(240, 7860, 2772, 492)},
        {watchMinutes_, "watchMinutes", twipsRect(3240, 7920, 1092, 372)},
        {forgetSiteData_, "forgetSiteData", twipsRect(240, 8520, 4596, 372)},
    };
    int lowest = 0;
    for (const Placement& p : placements) {
        p.control->setObjectName(QString::fromLatin1(p.name));
        p.control->setGeometry(p.place);
        lowest = std::max(lowest, p.place.bottom() + 1);
    }
    setFixedSize(kDialogWidth, lowest + kBottomMargin);

    pieceSizeLabel_->setToolTip(
        QStringLiteral("Choose smaller value for slow connection and larger for faster"));
    rulesLabel_->setToolTip(
        QStringLiteral("Host rules tried before the built-in ones (see docs/rules.md)"));
    downloadsAtOnceLabel_->setToolTip(
        QStringLiteral("Images downloaded at the same time, at most 2 from one host"));
    downloadsAtOnce_->setRange(1, kMostDownloadsAtOnce);
    rememberSaved_->setToolTip(
        QStringLiteral("Keep a list of the files saved (archive.sqlite beside settings.dat);\n"
                       "later jobs skip them without a request"));
    const QString folderTip =
        QStringLiteral("A folder below the save folder for each thread, e.g. {host}/{title}\n") +
        QString::fromLatin1(kTemplateFields) + QStringLiteral("; empty: none");
    const QString nameTip =
        QStringLiteral("The name of each file, e.g. {page:03}-{index:03}-{name}.{ext}\n") +
        QString::fromLatin1(kTemplateFields) + QStringLiteral("; empty: the image's own name");
    folderTemplateLabel_->setToolTip(folderTip);
    folderTemplate_->setToolTip(folderTip);
    nameTemplateLabel_->setToolTip(nameTip);
    nameTemplate_->setToolTip(nameTip);
    watchMinutesLabel_->setToolTip(
        QStringLiteral("After a job, read the thread again so many minutes later and save what "
                       "is new,\nuntil Stop"));
    watchMinutes_->setRange(0, kLongestWatchMinutes);
    folderTemplateLabel_->setBuddy(folderTemplate_);
    nameTemplateLabel_->setBuddy(nameTemplate_);
    watchMinutesLabel_->setBuddy(watchMinutes_);
    forgetSiteData_->setToolTip(
        QStringLiteral("Log out of every site the browser is logged in to"));
    for (QWidget* label : std::initializer_list<QWidget*>{
             timeoutLabel_, folderLabel_, pieceSizeLabel_, rulesLabel_, linkedImages_,
             followNextPages_, skipExisting_, downloadsAtOnceLabel_, rememberSaved_,
             folderTemplateLabel_, nameTemplateLabel_, watchMinutesLabel_}) {
        paintLabelFace(label);
    }
    for (QLineEdit* box :
         {timeoutBox_, folderBox_, pieceSizeBox_, rulesBox_, folderTemplate_, nameTemplate_}) {
        box->setTextMargins(0, 0, 0, 0);
    }
    // Return in any field presses OK (keyPressEvent).
    ok_->setDefault(true);

    setTabOrder(timeoutBox_, folderBox_);
    setTabOrder(folderBox_, browse_);
    setTabOrder(browse_, ok_);
    setTabOrder(ok_, pieceSizeBox_);
    setTabOrder(pieceSizeBox_, rulesBox_);
    setTabOrder(rulesBox_, rulesBrowse_);
    setTabOrder(rulesBrowse_, linkedImages_);
    setTabOrder(linkedImages_, followNextPages_);
    setTabOrder(followNextPages_, skipExisting_);
    setTabOrder(skipExisting_, downloadsAtOnce_);
    setTabOrder(downloadsAtOnce_, rememberSaved_);
    setTabOrder(rememberSaved_, folderTemplate_);
    setTabOrder(folderTemplate_, nameTemplate_);
    setTabOrder(nameTemplate_, watchMinutes_);
    setTabOrder(watchMinutes_, forgetSiteData_);

    connect(browse_, &QPushButton::clicked, this, [this] { browseForFolder(); });
    connect(rulesBrowse_, &QPushButton::clicked, this, [this] { browseForRules(); });
    connect(ok_, &QPushButton::clicked, this, [this] { saveAndClose(); });
    connect(forgetSiteData_, &QPushButton::clicked, this, [this] { askToForgetSiteData(); });
    showValues();
}

void SettingsDialog::keyPressEvent(QKeyEvent* event) {
    // Escape leaves without saving, as the close box does.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    // Return in a field presses OK; on a button it presses that button.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        (focused != nullptr ? focused : ok_)->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SettingsDialog::showValues() {
    timeoutBox_->setText(QString::number(settings_.timeoutSeconds));
    showFolder(QString::fromUtf8(settings_.savePath.c_str()));
    pieceSizeBox_->setText(QString::number(settings_.pieceSize));
    rulesBox_->setText(QString::fromUtf8(choices_.rulesFile.c_str()));
    linkedImages_->setChecked(choices_.linkedImages);
    followNextPages_->setChecked(choices_.followNextPages);
    skipExisting_->setChecked(choices_.skipExisting);
    downloadsAtOnce_->setValue(choices_.downloadsAtOnce);
    rememberSaved_->setChecked(choices_.rememberSaved);
    folderTemplate_->setText(QString::fromUtf8(choices_.folderTemplate.c_str()));
    nameTemplate_->setText(QString::fromUtf8(choices_.nameTemplate.c_str()));
    watchMinutes_->setValue(choices_.watchMinutes);
}

void SettingsDialog::browseForFolder() {
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Select Folder"),
                                                             QString(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return;
    // The folder counts from now on, whether or not OK follows.
    settings_.savePath = fromQString(folder);
    showFolder(folder);
    folderBox_->repaint();
}

void SettingsDialog::showFolder(const QString& folder) {
    folderBox_->setText(folder);
    // The box is narrower than most paths: the whole one is its tool tip.
    folderBox_->setToolTip(folder);
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
    choices.followNextPages = followNextPages_->isChecked();
    choices.skipExisting = skipExisting_->isChecked();
    choices.downloadsAtOnce = downloadsAtOnce_->value();
    choices.rememberSaved = rememberSaved_->isChecked();
    // Blanks at the ends would not survive choices.conf.
    choices.folderTemplate = std::string(trim(fromQString(folderTemplate_->text())));
    choices.nameTemplate = std::string(trim(fromQString(nameTemplate_->text())));
    choices.watchMinutes = watchMinutes_->value();
    if (!choices.rulesFile.empty() && checkRules_) {
        const std::string problems = checkRules_(choices.rulesFile);
        // Shown, and the file kept: the job runs with its good rules.
        if (!problems.empty()) messageBox_.show("Error", problems, MessageIcon::Critical);
    }
    if (choices == choices_) return true;
    choices_ = choices;
    return writeChoicesFile(settingsFile_.parent_path() / kChoicesFileName, choices_);
}

void SettingsDialog::askToForgetSiteData() {
    const auto answer = QMessageBox::question(
        this, QStringLiteral("Settings"),
        QStringLiteral("Delete every cookie and all site data of the browser?\n"
                       "You will be logged out of every site."),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes && forget_) forget_();
}

bool SettingsDialog::templatesUsable() {
    struct Row {
        QLineEdit* box;
        NameTemplate::Kind kind;
        const char* caption;
    };
    for (const Row& row :
         {Row{folderTemplate_, NameTemplate::Kind::Folder, "Folder for each thread"},
          Row{nameTemplate_, NameTemplate::Kind::FileName, "File names"}}) {
        const std::string text(trim(fromQString(row.box->text())));
        std::string problem;
        if (text.empty() || NameTemplate::parse(text, row.kind, problem)) continue;
        messageBox_.show("Error", std::string(row.caption) + ": " + problem, MessageIcon::Critical);
        row.box->setFocus();
        row.box->selectAll();
        return false;
    }
    return true;
}

void SettingsDialog::saveAndClose() {
    const SettingsDialogInput input = readSettingsDialogInput(fromQString(timeoutBox_->text()),
                                                              fromQString(pieceSizeBox_->text()));
    if (!input.accepted) {
        messageBox_.show("Error", input.errorText, MessageIcon::Critical);
        return;
    }
    // Checked as a job checks it before it starts, so that a folder that cannot take a file is
    // said now, while it can still be changed.
    if (const std::string problem = saveFolderProblem(settings_.savePath); !problem.empty()) {
        messageBox_.show("Error", saveFolderProblemText(settings_.savePath, problem),
                         MessageIcon::Critical);
        return;
    }
    if (!templatesUsable()) return;
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
