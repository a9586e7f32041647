#include "shell/settings_dialog.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/qt/qt_text.h"
#include "shell/window_style.h"

namespace velnoria {

SettingsDialog::SettingsDialog(Settings& settings, MessageBox& messageBox,
                               std::filesystem::path settingsFile)
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      settings_(settings),
      messageBox_(messageBox),
      settingsFile_(std::move(settingsFile)),
      timeoutLabel_(new QLabel(QStringLiteral("Timeout (seconds)"), this)),
      timeoutBox_(new QLineEdit(this)),
      pieceSizeLabel_(new QLabel(QStringLiteral("Piece size (bytes)"), this)),
      pieceSizeBox_(new QLineEdit(this)),
      folderLabel_(new QLabel(QStringLiteral("Select save folder"), this)),
      folderBox_(new QLineEdit(this)),
      browse_(new QPushButton(QStringLiteral("Browse"), this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)) {
    setObjectName(QStringLiteral("settingsDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Settings"));
    setFixedSize(twipsSize(5076, 3060));
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
    for (QLabel* label : {timeoutLabel_, folderLabel_, pieceSizeLabel_}) paintLabelFace(label);
    for (QLineEdit* box : {timeoutBox_, folderBox_, pieceSizeBox_}) box->setTextMargins(0, 0, 0, 0);

    setTabOrder(timeoutBox_, folderBox_);
    setTabOrder(folderBox_, browse_);
    setTabOrder(browse_, ok_);
    setTabOrder(ok_, pieceSizeBox_);

    connect(browse_, &QPushButton::clicked, this, [this] { browseForFolder(); });
    connect(ok_, &QPushButton::clicked, this, [this] { saveAndClose(); });
    showValues();
}

void SettingsDialog::showValues() {
    timeoutBox_->setText(QString::number(settings_.timeoutSeconds));
    folderBox_->setText(QString::fromUtf8(settings_.savePath.c_str()));
    pieceSizeBox_->setText(QString::number(settings_.pieceSize));
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
    close();
}

}  // namespace velnoria
