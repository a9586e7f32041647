#include "shell/settings_dialog.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/qt/qt_text.h"
#include "shell/settings/settings_dialog_input.h"
#include "shell/settings/settings_file.h"
#include "shell/twips.h"
#include "shell/window_style.h"

namespace velnoria {

SettingsDialog::SettingsDialog(Settings& settings, MessageBox& messageBox,
                               std::filesystem::path settingsFile)
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      settings_(settings),
      messageBox_(messageBox),
      settingsFile_(std::move(settingsFile)),
      label1_(new QLabel(QStringLiteral("Timeout (seconds)"), this)),
      text1_(new QLineEdit(this)),
      label3_(new QLabel(QStringLiteral("Piece size (bytes)"), this)),
      text3_(new QLineEdit(this)),
      label2_(new QLabel(QStringLiteral("Select save folder"), this)),
      text2_(new QLineEdit(this)),
      command1_(new QPushButton(QStringLiteral("Browse"), this)),
      command2_(new QPushButton(QStringLiteral("OK"), this)) {
    setObjectName(QStringLiteral("Form3"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Settings"));
    setFixedSize(twipsSize(5076, 3060));
    paintBackground(this, QColor(64, 64, 64));

    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->setGeometry(twipsRect(240, 360, 1692, 252));
    text1_->setObjectName(QStringLiteral("Text1"));
    text1_->setGeometry(twipsRect(2160, 360, 372, 288));
    label3_->setObjectName(QStringLiteral("Label3"));
    label3_->setGeometry(twipsRect(240, 840, 1692, 252));
    label3_->setToolTip(
        QStringLiteral("Choose smaller value for slow connection and larger for faster"));
    text3_->setObjectName(QStringLiteral("Text3"));
    text3_->setGeometry(twipsRect(2160, 840, 852, 288));
    label2_->setObjectName(QStringLiteral("Label2"));
    label2_->setGeometry(twipsRect(240, 1560, 2772, 252));
    text2_->setObjectName(QStringLiteral("Text2"));
    text2_->setGeometry(twipsRect(240, 1920, 2772, 288));
    command1_->setObjectName(QStringLiteral("Command1"));
    command1_->setGeometry(twipsRect(3240, 1920, 1332, 372));
    command2_->setObjectName(QStringLiteral("Command2"));
    command2_->setGeometry(twipsRect(2040, 2640, 972, 372));
    for (QLabel* label : {label1_, label2_, label3_}) paintLabelFace(label);
    for (QLineEdit* box : {text1_, text2_, text3_}) box->setTextMargins(0, 0, 0, 0);

    setTabOrder(text1_, text2_);
    setTabOrder(text2_, command1_);
    setTabOrder(command1_, command2_);
    setTabOrder(command2_, text3_);

    connect(command1_, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(command2_, &QPushButton::clicked, this, [this] { Command2_Click(); });
    Form_Load();
}

void SettingsDialog::Form_Load() {
    text1_->setText(QString::number(settings_.timeoutSeconds));
    text2_->setText(QString::fromUtf8(settings_.savePath.c_str()));
    text3_->setText(QString::number(settings_.pieceSize));
}

void SettingsDialog::Command1_Click() {
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Select Folder"),
                                                             QString(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return;
    // The folder counts from now on, whether or not OK follows.
    settings_.savePath = fromQString(folder);
    text2_->setText(folder);
    text2_->repaint();
}

void SettingsDialog::Command2_Click() {
    const SettingsDialogInput input =
        readSettingsDialogInput(fromQString(text1_->text()), fromQString(text3_->text()));
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
