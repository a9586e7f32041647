#include "shell/main_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>

#include "core/choices.h"
#include "core/program_identity.h"
#include "core/settings.h"
#include "core/text.h"
#include "platform/qt/qt_text.h"
#include "shell/about_dialog.h"
#include "shell/browser_profile.h"
#include "shell/desktop_program.h"
#include "shell/logo_image.h"
#include "shell/qt_status_view.h"
#include "shell/settings_dialog.h"
#include "shell/web_browser.h"
#include "shell/window_style.h"

namespace velnoria {

namespace {

// Each pass of a page wait may block this long for window or browser events.
constexpr std::chrono::milliseconds kPageWaitPass{10};

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
      endProgram_(std::move(endProgram)),
      browserProfile_(std::make_unique<BrowserProfile>()) {
    registerWindowResources();
    buildControls();
    statusView_ = std::make_unique<QtStatusView>(this);
    statusView_->setHandlers([this] { program_->statusWindow().pauseClick(); },
                             [this] { program_->statusWindow().stopClick(); });
    setLastStep([this] { closeBrowserForExit(); });
}

MainWindow::~MainWindow() {
    setLastStep({});
    delete settingsDialog_.data();
    delete aboutDialog_.data();
    // A profile must outlive the pages shown with it.
    delete browser_;
}

SettingsDialog* MainWindow::settingsDialog() const {
    return settingsDialog_;
}

AboutDialog* MainWindow::aboutDialog() const {
    return aboutDialog_;
}

void MainWindow::buildControls() {
    setObjectName(QStringLiteral("mainWindow"));
    setFixedSize(twipsSize(12168, 8736));
    paintBackground(this, QColor(64, 64, 64));

    startDownload_ = makeButton(this, "startDownload", "Start Download", nullptr,
                                twipsRect(480, 360, 2052, 492));
    back_ = makeButton(this, "back", "<<", "Go back one page", twipsRect(2760, 360, 492, 492));
    stop_ = makeButton(this, "stop", "X", "Stop", twipsRect(3480, 360, 492, 492));
    forward_ =
        makeButton(this, "forward", ">>", "Go forward one page", twipsRect(4200, 360, 492, 492));
    checkUpdate_ =
        makeButton(this, "checkUpdate", "U", "Check update", twipsRect(4920, 360, 492, 492));
    logo_ = new LogoImage(this);
    logo_->setObjectName(QStringLiteral("logo"));
    logo_->setToolTip(QString::fromUtf8(kLogoToolTip));
    logo_->setGeometry(twipsRect(5640, 360, 1320, 492));
    settings_ = makeButton(this, "settings", "Settings", nullptr, twipsRect(7200, 360, 1452, 492));
    about_ = makeButton(this, "about", "About", nullptr, twipsRect(8880, 360, 1452, 492));
    exit_ = makeButton(this, "exit", "Exit", nullptr, twipsRect(10560, 360, 1452, 492));

    statusLine_ = new QLabel(this);
    statusLine_->setObjectName(QStringLiteral("statusLine"));
    statusLine_->setGeometry(twipsRect(480, 960, 11532, 252));
    // The desktop's background colour with highlighted text, as the status line always had.
    paintLabel(statusLine_, QColor(58, 110, 165), Qt::white);

    addressBox_ = new QLineEdit(this);
    addressBox_->setObjectName(QStringLiteral("addressBox"));
    addressBox_->setToolTip(QStringLiteral("Type adress here"));
    addressBox_->setGeometry(twipsRect(480, 1320, 10212, 372));
    go_ = makeButton(this, "go", "&Go", nullptr, twipsRect(10800, 1320, 1212, 372));
    go_->setDefault(true);

    browser_ = new WebBrowser(eventLoop_, this, browserProfile_->profile());
    browser_->setObjectName(QStringLiteral("browser"));
    browser_->setGeometry(twipsRect(480, 1920, 11532, 6852));

    setTabOrder(addressBox_, startDownload_);
    setTabOrder(startDownload_, go_);
    setTabOrder(go_, exit_);
    setTabOrder(exit_, about_);
    setTabOrder(about_, back_);
    setTabOrder(back_, stop_);
    setTabOrder(stop_, forward_);
    setTabOrder(forward_, settings_);
    setTabOrder(settings_, checkUpdate_);
    setTabOrder(checkUpdate_, browser_);
    addressBox_->setFocus();

    // Enter in the address box reaches keyPressEvent (the box passes it on), which presses Go:
    // no connection of the box's own, or one Enter would run Go twice.
    connect(startDownload_, &QPushButton::clicked, this, [this] { startDownload(); });
    connect(go_, &QPushButton::clicked, this, [this] { go(); });
    connect(back_, &QPushButton::clicked, this, [this] { goBack(); });
    connect(stop_, &QPushButton::clicked, this, [this] { stopLoading(); });
    connect(forward_, &QPushButton::clicked, this, [this] { goForward(); });
    connect(checkUpdate_, &QPushButton::clicked, this, [this] { checkForUpdate(); });
    connect(logo_, &LogoImage::clicked, this, [this] { openHomePage(); });
    connect(settings_, &QPushButton::clicked, this, [this] { showSettings(); });
    connect(about_, &QPushButton::clicked, this, [this] { showAbout(); });
    connect(exit_, &QPushButton::clicked, this, [this] { exitProgram(); });
    connect(browser_, &WebBrowser::documentComplete, this, [this] { onDocumentComplete(); });
}

void MainWindow::setStatusLine(const QString& text, bool repaintNow) {
    statusLine_->setText(text);
    if (repaintNow) statusLine_->repaint();
}

// --- Start-up and shut-down ---

bool MainWindow::startUp(const std::string& argumentText) {
    startingUp_ = true;
    state_.settings = loadStartupSettings(state_.workFolder, [this](const std::string& text) {
        messageBox_.show("Error", text, MessageIcon::Critical);
    });
    if (!commandLineAllowsStart(argumentText)) {
        endProgram_(1);
        return false;
    }
    // Beside settings.dat; a missing file means the defaults, and is not made until needed.
    state_.choices = readChoicesFile(state_.workFolder / kChoicesFileName).value_or(Choices{});
    statusView_->createHidden();
    setWindowTitle(QString::fromUtf8(kProgramCaption));
    program_ =
        std::make_unique<Program>(state_, FrontEnd{eventLoop_, *statusView_, messageBox_, shell_});
    startDownload_->setEnabled(false);
    setStatusLine(QStringLiteral("Status"), false);
    browser_->navigate(QStringLiteral("about:blank"));
    while (browser_->readyState() != WebBrowser::kComplete) eventLoop_.yieldOnce(kPageWaitPass);
    addressBox_->clear();
    addressBox_->repaint();
    checkForUpdate();
    startingUp_ = false;
    centreOnScreen(this);
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    shutDown();
}

void MainWindow::exitProgram() {
    close();
}

void MainWindow::shutDown() {
    // Every window goes, then the process ends at once, even from inside a job or a page wait.
    if (QtStatusView::Window* status = statusView_->window()) status->hide();
    if (!settingsDialog_.isNull()) settingsDialog_->hide();
    if (!aboutDialog_.isNull()) aboutDialog_->hide();
    hide();
    endProgram_(0);
}

void MainWindow::closeBrowserForExit() {
    // Only on the way out of the process: nothing runs on afterwards that could want them.
    delete browser_;
    browser_ = nullptr;
    browserProfile_->close();
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

// --- Browsing ---

void MainWindow::go() {
    browser_->navigate(QString::fromUtf8(trim(fromQString(addressBox_->text()), " ")));
    waitForPage(false);
    startDownload_->setEnabled(true);
}

bool MainWindow::waitForPage(bool forJob) {
    int state = WebBrowser::kUninitialized;
    do {
        eventLoop_.yieldOnce(kPageWaitPass);
        switch (browser_->readyState()) {
            case WebBrowser::kLoading:
                setStatusLine(QStringLiteral("Loading page, please wait..."), false);
                break;
            case WebBrowser::kInteractive:
                setStatusLine(QStringLiteral("Loading..."), false);
                break;
            case WebBrowser::kComplete:
                setStatusLine(QStringLiteral("Loaded."), false);
                break;
            default:
                break;
        }
        const QString location = browser_->location();
        if (location != addressBox_->text() && browser_->readyState() > WebBrowser::kLoaded) {
            addressBox_->setText(location);
            addressBox_->repaint();
        }
        state = browser_->readyState();
        // A job's wait for its next page ends on Stop/Abort; the job then ends.
        if (forJob && state_.runState == kStopRequested) {
            browser_->stop();
            return false;
        }
    } while (state != WebBrowser::kComplete);
    return true;
}

BrowserDocument* MainWindow::read(const std::string& address, std::string& documentAddress,
                                  std::string& error) {
    browser_->navigate(QString::fromUtf8(address.c_str()));
    if (!waitForPage(true)) {
        error = "stopped";
        return nullptr;
    }
    if (!browser_->loadSucceeded()) {
        error = "the page did not load";
        return nullptr;
    }
    documentAddress = fromQString(browser_->location());
    return &browser_->document();
}

void MainWindow::goBack() {
    browser_->goBack();
}

void MainWindow::goForward() {
    browser_->goForward();
}

void MainWindow::stopLoading() {
    browser_->stop();
    startDownload_->setEnabled(true);
    setStatusLine(QStringLiteral("Page stopped."), false);
}

void MainWindow::onDocumentComplete() {
    addressBox_->setText(browser_->location());
    addressBox_->repaint();
}

// --- The other commands ---

void MainWindow::startDownload() {
    // One job at a time; the button is disabled meanwhile, but a queued click must not start
    // a second job nested in the first.
    if (state_.jobRunning || program_ == nullptr) return;
    startDownload_->setEnabled(false);
    startDownload_->repaint();
    // The job's requests carry the browser's session: its cookies as they are now, its
    // User-Agent.
    browserProfile_->fillSession(state_.session);
    const JobResult result =
        program_->runDownloadJob(browser_->document(), fromQString(addressBox_->text()), this);
    // No job ran (the save folder cannot take a file, as the box said): the page is still there
    // to be downloaded once the folder is set right.
    if (!result.saveFolderProblem.empty()) startDownload_->setEnabled(true);
}

void MainWindow::checkForUpdate() {
    if (program_ == nullptr) return;
    program_->checkForUpdate(
        [this](const std::string& text) { setStatusLine(toDisplayText(text), true); }, startingUp_);
}

void MainWindow::openHomePage() {
    shell_.openUrl(kHomePage);
}

void MainWindow::showSettings() {
    if (settingsDialog_.isNull()) {
        settingsDialog_ = new SettingsDialog(
            state_.settings, state_.choices, messageBox_, state_.workFolder / kSettingsFileName,
            [this](const std::string& rulesFile) {
                const RulesFile rules = program_->readRules(rulesFile);
                return rules.problems.empty() ? std::string() : describeProblems(rules.problems);
            },
            [this] { browserProfile_->forgetCookiesAndSiteData(); });
    }
    settingsDialog_->show();
    settingsDialog_->raise();
    settingsDialog_->activateWindow();
}

void MainWindow::showAbout() {
    if (aboutDialog_.isNull()) {
        aboutDialog_ = new AboutDialog(shell_);
        centreOn(aboutDialog_, this);
    }
    aboutDialog_->showText(aboutText());
    aboutDialog_->show();
    aboutDialog_->raise();
    aboutDialog_->activateWindow();
}

}  // namespace velnoria
