#include "shell/main_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "shell/about_dialog.h"
#include "shell/logo_image.h"
#include "platform/program_identity.h"
#include "shell/settings_dialog.h"
#include "shell/status_form.h"
#include "shell/twips.h"
#include "shell/web_browser.h"
#include "shell/window_style.h"

namespace velnoria {

namespace {

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, const char* toolTip,
                        const QRect& place) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromUtf8(name));
    if (toolTip != nullptr) button->setToolTip(QString::fromUtf8(toolTip));
    button->setGeometry(place);
    return button;
}

}  // namespace

MainWindow::MainWindow(EndProgram endProgram)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      endProgram_(std::move(endProgram)) {
    registerWindowResources();
    buildControls();
    statusView_ = std::make_unique<QtStatusView>(this);
    statusWindow_ = std::make_unique<StatusWindow>(program_.runState, *statusView_, eventLoop_);
    statusView_->setHandlers([this] { statusWindow_->pauseClick(); },
                             [this] { statusWindow_->stopClick(); });
}

MainWindow::~MainWindow() {
    delete form3_.data();
    delete form2_.data();
}

SettingsDialog* MainWindow::settingsDialog() const {
    return form3_;
}

AboutDialog* MainWindow::aboutDialog() const {
    return form2_;
}

void MainWindow::buildControls() {
    setObjectName(QStringLiteral("Form1"));
    setFixedSize(twipsSize(12168, 8736));
    paintBackground(this, QColor(64, 64, 64));

    download_ =
        makeButton(this, "Download", "Start Download", nullptr, twipsRect(480, 360, 2052, 492));
    back_ = makeButton(this, "Back", "<<", "Go back one page", twipsRect(2760, 360, 492, 492));
    stop_ = makeButton(this, "Stop", "X", "Stop", twipsRect(3480, 360, 492, 492));
    forward_ =
        makeButton(this, "Forward", ">>", "Go forward one page", twipsRect(4200, 360, 492, 492));
    checkUpdate_ =
        makeButton(this, "Check_update", "U", "Check update", twipsRect(4920, 360, 492, 492));
    image1_ = new LogoImage(this);
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setToolTip(QString::fromUtf8(kLogoToolTip));
    image1_->setGeometry(twipsRect(5640, 360, 1320, 492));
    settings_ = makeButton(this, "Settings", "Settings", nullptr, twipsRect(7200, 360, 1452, 492));
    about_ = makeButton(this, "About", "About", nullptr, twipsRect(8880, 360, 1452, 492));
    exit_ = makeButton(this, "Exit", "Exit", nullptr, twipsRect(10560, 360, 1452, 492));

    label1_ = new QLabel(this);
    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->setGeometry(twipsRect(480, 960, 11532, 252));
    // The desktop's background colour with highlighted text, as the status line always had.
    paintLabel(label1_, QColor(58, 110, 165), Qt::white);

    text1_ = new QLineEdit(this);
    text1_->setObjectName(QStringLiteral("Text1"));
    text1_->setToolTip(QStringLiteral("Type adress here"));
    text1_->setGeometry(twipsRect(480, 1320, 10212, 372));
    go_ = makeButton(this, "Go", "&Go", nullptr, twipsRect(10800, 1320, 1212, 372));
    go_->setDefault(true);

    webBrowser1_ = new WebBrowser(eventLoop_, this);
    webBrowser1_->setObjectName(QStringLiteral("WebBrowser1"));
    webBrowser1_->setGeometry(twipsRect(480, 1920, 11532, 6852));

    setTabOrder(text1_, download_);
    setTabOrder(download_, go_);
    setTabOrder(go_, exit_);
    setTabOrder(exit_, about_);
    setTabOrder(about_, back_);
    setTabOrder(back_, stop_);
    setTabOrder(stop_, forward_);
    setTabOrder(forward_, settings_);
    setTabOrder(settings_, checkUpdate_);
    setTabOrder(checkUpdate_, webBrowser1_);
    text1_->setFocus();

    connect(download_, &QPushButton::clicked, this, [this] { Download_Click(); });
    connect(go_, &QPushButton::clicked, this, [this] { Go_Click(); });
    connect(text1_, &QLineEdit::returnPressed, go_, &QPushButton::click);
    connect(back_, &QPushButton::clicked, this, [this] { Back_Click(); });
    connect(stop_, &QPushButton::clicked, this, [this] { Stop_Click(); });
    connect(forward_, &QPushButton::clicked, this, [this] { Forward_Click(); });
    connect(checkUpdate_, &QPushButton::clicked, this, [this] { Check_update_Click(); });
    connect(image1_, &LogoImage::clicked, this, [this] { Image1_Click(); });
    connect(settings_, &QPushButton::clicked, this, [this] { Settings_Click(); });
    connect(about_, &QPushButton::clicked, this, [this] { About_Click(); });
    connect(exit_, &QPushButton::clicked, this, [this] { Exit_Click(); });
    connect(webBrowser1_, &WebBrowser::DocumentComplete, this,
            [this] { WebBrowser1_DocumentComplete(); });
}

void MainWindow::setStatusLine(const QString& text, bool repaintNow) {
    label1_->setText(text);
    if (repaintNow) label1_->repaint();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // Enter presses the button that has the focus, else Go, the window's default button.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        (focused != nullptr ? focused : go_)->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    Form_Unload();
}

}  // namespace velnoria
