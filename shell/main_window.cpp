#include "shell/main_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <chrono>
#include <iterator>

#include "core/choices.h"
#include "core/program_identity.h"
#include "core/settings.h"
#include "core/text.h"
#include "download/next_pages.h"
#include "download/watch.h"
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

// The client area at the first start.
constexpr QSize kFirstSize = twipsSize(12168, 8736);

// A button; an ampersand in the caption marks its access key (Alt and the letter after it).
QPushButton* makeButton(QWidget* parent, const char* name, const char* caption,
                        const char* toolTip) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromUtf8(name));
    if (toolTip != nullptr) button->setToolTip(QString::fromUtf8(toolTip));
    return button;
}

}  // namespace

MainWindow::MainWindow(EndProgram endProgram)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
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
    // The window opens at its first size and may grow from there, never shrink below it.
    setMinimumSize(kFirstSize);
    resize(kFirstSize);
    paintBackground(this, QColor(64, 64, 64));

    startDownload_ = makeButton(this, "startDownload", "&Start Download", nullptr);
    back_ = makeButton(this, "back", "<<", "Go back one page");
    stop_ = makeButton(this, "stop", "&X", "Stop");
    forward_ = makeButton(this, "forward", ">>", "Go forward one page");
    checkUpdate_ = makeButton(this, "checkUpdate", "&U", "Check update");
    logo_ = new LogoImage(this);
    logo_->setObjectName(QStringLiteral("logo"));
    logo_->setToolTip(QString::fromUtf8(kLogoToolTip));
    settings_ = makeButton(this, "settings", "Se&ttings", nullptr);
    about_ = makeButton(this, "about", "&About", nullptr);
    exit_ = makeButton(this, "exit", "&Exit", nullptr);

    statusLine_ = new QLabel(this);
    statusLine_->setObjectName(QStringLiteral("statusLine"));
    // The desktop's background colour with highlighted text, as the status line always had.
    paintLabel(statusLine_, QColor(58, 110, 165), Qt::white);

    addressBox_ = new QLineEdit(this);
    addressBox_->setObjectName(QStringLiteral("addressBox"));
    addressBox_->setToolTip(QStringLiteral("Type adress here"));
    go_ = makeButton(this, "go", "&Go", nullptr);
    go_->setDefault(true);

    browser_ = new WebBrowser(waitLoop_, this, browserProfile_->profile());
    browser_->setObjectName(QStringLiteral("browser"));

    // The places at the first size, in twips, and the edge each control keeps its distance to
    // when the window grows: the browser takes the new room.
    placements_ = {
        {startDownload_, twipsRect(480, 360, 2052, 492), Anchor::Left},
        {back_, twipsRect(2760, 360, 492, 492), Anchor::Left},
        {stop_, twipsRect(3480, 360, 492, 492), Anchor::Left},
        {forward_, twipsRect(4200, 360, 492, 492), Anchor::Left},
        {checkUpdate_, twipsRect(4920, 360, 492, 492), Anchor::Left},
        {logo_, twipsRect(5640, 360, 1320, 492), Anchor::Left},
        {settings_, twipsRect(7200, 360, 1452, 492), Anchor::Right},
        {about_, twipsRect(8880, 360, 1452, 492), Anchor::Right},
        {exit_, twipsRect(10560, 360, 1452, 492), Anchor::Right},
        {statusLine_, twipsRect(480, 960, 11532, 252), Anchor::Width},
        {addressBox_, twipsRect(480, 1320, 10212, 372), Anchor::Width},
        {go_, twipsRect(10800, 1320, 1212, 372), Anchor::Right},
        {browser_, twipsRect(480, 1920, 11532, 6852), Anchor::WidthAndHeight},
    };
    placeControls();

    // The window's own controls first, from the address box along the rows; the page last.
    QWidget* const tabOrder[] = {addressBox_,  go_,       startDownload_, back_, stop_,   forward_,
                                 checkUpdate_, settings_, about_,         exit_, browser_};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i) {
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }
    addressBox_->setFocus();
    addShortcuts();

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
    // << and >> are greyed while there is nothing to go to.
    connect(browser_, &WebBrowser::historyChanged, this, [this] { showHistoryButtons(); });
    showHistoryButtons();
}

void MainWindow::addShortcuts() {
    const auto onKeys = [this](const QKeySequence& keys, auto command) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, command);
    };
    onKeys(QKeySequence(Qt::ALT | Qt::Key_Left), [this] { goBack(); });
    onKeys(QKeySequence(Qt::ALT | Qt::Key_Right), [this] { goForward(); });
    onKeys(QKeySequence(Qt::Key_F5), [this] { browser_->reload(); });
    onKeys(QKeySequence(Qt::CTRL | Qt::Key_L), [this] {
        addressBox_->setFocus(Qt::ShortcutFocusReason);
        addressBox_->selectAll();
    });
}

void MainWindow::placeControls() {
    const int wider = width() - kFirstSize.width();
    const int taller = height() - kFirstSize.height();
    for (const Placement& p : placements_) {
        QRect place = p.first;
        switch (p.anchor) {
            case Anchor::Left:
                break;
            case Anchor::Right:
                place.translate(wider, 0);
                break;
            case Anchor::Width:
                place.setWidth(place.width() + wider);
                break;
            case Anchor::WidthAndHeight:
                place.setSize(place.size() + QSize(wider, taller));
                break;
        }
        p.control->setGeometry(place);
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeControls();
}

void MainWindow::showHistoryButtons() {
    back_->setEnabled(browser_->canGoBack());
    forward_->setEnabled(browser_->canGoForward());
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
    waitLoop_.use(program_->eventLoop());
    startDownload_->setEnabled(false);
    setStatusLine(QStringLiteral("Status"), false);
    browser_->navigate(QStringLiteral("about:blank"));
    while (browser_->readyState() != WebBrowser::kComplete) waitLoop_.yieldOnce(kPageWaitPass);
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
    // Enter presses the button that has the focus, else Go, the window's default button. The
    // keypad's Enter comes with the keypad's modifier.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
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
    const int stopsBefore = stopsPressed_;
    int state = WebBrowser::kUninitialized;
    do {
        waitLoop_.yieldOnce(kPageWaitPass);
        // X ended this load: its "Page stopped." stays, and no other address comes in.
        if (stopsPressed_ != stopsBefore) return false;
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
        if (forJob && state_.runState == RunState::StopRequested) {
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
        error = state_.runState == RunState::StopRequested ? "stopped" : "its loading was stopped";
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
    ++stopsPressed_;
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
    // a second job nested in the first, nor one between the rounds of a watched thread.
    if (state_.jobRunning || watching_ || program_ == nullptr) return;
    startDownload_->setEnabled(false);
    startDownload_->repaint();
    // The job's requests carry the browser's session: its cookies as they are now, its
    // User-Agent.
    browserProfile_->fillSession(state_.session);
    const std::string thread = fromQString(addressBox_->text());
    const bool watch = state_.choices.watchMinutes > 0;
    const JobResult result =
        program_->runDownloadJob(browser_->document(), thread, this, {}, watch);
    // No job ran (the save folder cannot take a file, or the archive or a template cannot be
    // used, as the box said): the page is still there to be downloaded once that is set right.
    if (!result.saveFolderProblem.empty() || !result.setupProblem.empty()) {
        startDownload_->setEnabled(true);
    }
    if (watch && result.started) watchThread(thread, result);
}

void MainWindow::watchThread(const std::string& thread, JobResult result) {
    watching_ = true;
    StatusWindow& status = program_->statusWindow();
    const auto interval = std::chrono::minutes(state_.choices.watchMinutes);
    while (result.started && !result.stopped) {
        status.appendLog(watchRoundText(
            result.finishedCount,
            std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() + interval)));
        if (!waitForNextRound(state_.runState, program_->eventLoop(),
                              std::chrono::steady_clock::now() + interval)) {
            break;
        }
        // The thread's first page again, in the browser, as a next page is read.
        std::string foundAt;
        std::string error;
        BrowserDocument* document = read(thread, foundAt, error);
        if (state_.runState == RunState::StopRequested) break;
        if (document == nullptr) {
            status.appendLog("Page cannot be read: " + oneLine(thread) + " (" + oneLine(error) +
                             ")\r\n");
            result.finishedCount = 0;
            continue;
        }
        browserProfile_->fillSession(state_.session);
        result = program_->runDownloadJob(*document, thread, this, {}, true);
    }
    state_.runState = RunState::Running;
    status.close();
    watching_ = false;
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
        centreOn(settingsDialog_, this);
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
