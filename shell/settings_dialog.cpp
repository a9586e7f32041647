#include "shell/settings_dialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "core/job_options_file.h"
#include "platform/qt/qt_text.h"
#include "shell/window_style.h"

namespace velnoria {

SettingsDialog::SettingsDialog(Settings& settings, JobOptions& options, MessageBox& messageBox,
                               std::filesystem::path settingsFile)
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      settings_(settings),
      options_(options),
      messageBox_(messageBox),
      settingsFile_(std::move(settingsFile)),
      timeoutLabel_(new QLabel(QStringLiteral("Timeout (seconds)"), this)),
      timeoutBox_(new QLineEdit(this)),
      pieceSizeLabel_(new QLabel(QStringLiteral("Piece size (bytes)"), this)),
      pieceSizeBox_(new QLineEdit(this)),
      folderLabel_(new QLabel(QStringLiteral("Select save folder"), this)),
      folderBox_(new QLineEdit(this)),
      browse_(new QPushButton(QStringLiteral("Browse"), this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)),
      followNextPages_(new QCheckBox(QStringLiteral("Follow the thread's next pages"), this)),
      skipExisting_(new QCheckBox(QStringLiteral("Skip files already saved"), this)),
      downloadsAtOnceLabel_(new QLabel(QStringLiteral("Downloads at once"), this)),
      downloadsAtOnce_(new QSpinBox(this)) {
    setObjectName(QStringLiteral("settingsDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Settings"));
    setFixedSize(twipsSize(5076, 4440));
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
    // The job options, below the described controls.
    followNextPages_->setObjectName(QStringLiteral("followNextPages"));
    followNextPages_->setGeometry(twipsRect(240, 3180, 4596, 300));
    skipExisting_->setObjectName(QStringLiteral("skipExisting"));
    skipExisting_->setGeometry(twipsRect(240, 3540, 4596, 300));
    downloadsAtOnceLabel_->setObjectName(QStringLiteral("downloadsAtOnceLabel"));
    downloadsAtOnceLabel_->setGeometry(twipsRect(240, 3960, 1692, 252));
    downloadsAtOnceLabel_->setToolTip(
        QStringLiteral("Images downloaded at the same time, at most 2 from one host"));
    downloadsAtOnce_->setObjectName(QStringLiteral("downloadsAtOnce"));
    downloadsAtOnce_->setGeometry(twipsRect(2160, 3900, 852, 372));
    downloadsAtOnce_->setRange(1, JobOptions::kLargestParallel);
    for (QCheckBox* box : {followNextPages_, skipExisting_}) {
        QPalette palette = box->palette();
        palette.setColor(QPalette::WindowText, Qt::white);
        box->setPalette(palette);
    }
    for (QLabel* label : {timeoutLabel_, folderLabel_, pieceSizeLabel_, downloadsAtOnceLabel_}) {
        paintLabelFace(label);
    }
    for (QLineEdit* box : {timeoutBox_, folderBox_, pieceSizeBox_}) box->setTextMargins(0, 0, 0, 0);

    setTabOrder(timeoutBox_, folderBox_);
    setTabOrder(folderBox_, browse_);
    setTabOrder(browse_, ok_);
    setTabOrder(ok_, pieceSizeBox_);
    setTabOrder(pieceSizeBox_, followNextPages_);
    setTabOrder(followNextPages_, skipExisting_);
    setTabOrder(skipExisting_, downloadsAtOnce_);

    connect(browse_, &QPushButton::clicked, this, [this] { browseForFolder(); });
    connect(ok_, &QPushButton::clicked, this, [this] { saveAndClose(); });
    showValues();
}

void SettingsDialog::showValues() {
    timeoutBox_->setText(QString::number(settings_.timeoutSeconds));
    folderBox_->setText(QString::fromUtf8(settings_.savePath.c_str()));
    pieceSizeBox_->setText(QString::number(settings_.pieceSize));
    followNextPages_->setChecked(options_.allPages);
    skipExisting_->setChecked(options_.skipExisting);
    downloadsAtOnce_->setValue(options_.parallel);
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
    options_.allPages = followNextPages_->isChecked();
    options_.skipExisting = skipExisting_->isChecked();
    options_.parallel = downloadsAtOnce_->value();
    if (!writeJobOptions(settingsFile_.parent_path() / kChoicesFile, options_)) {
        messageBox_.show("Error", "The choices cannot be saved in \"choices.conf\".",
                         MessageIcon::Critical);
    }
    close();
}

}  // namespace velnoria
