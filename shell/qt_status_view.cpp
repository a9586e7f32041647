#include "shell/qt_status_view.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>

#include "core/printable.h"
#include "download/status_window.h"
#include "platform/qt/qt_text.h"
#include "shell/window_style.h"

namespace velnoria {

namespace {

int toBarValue(double value) {
    if (std::isnan(value)) return 0;
    const double limit = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(value, -limit, limit));
}

// The window's first size, and the place of the transfers' area below the buttons.
constexpr QSize kFirstSize = twipsSize(7368, 4608);
constexpr QRect kTransfersPlace = twipsRect(840, 4560, 5172, 0);
constexpr int kBottomMargin = twipsToPixels(240);

// The buttons' captions with their access keys (Alt and the first letter).
QString withAccessKey(const std::string& caption) {
    return QStringLiteral("&") + toDisplayText(caption);
}

}  // namespace

QtStatusView::Window::Window(QWidget* owner, std::function<void()> pauseClick,
                             std::function<void()> stopClick)
    // A dialog with an owner: the window manager keeps it with the main window, out of the task
    // bar.
    : QWidget(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      owner_(owner),
      log_(new QPlainTextEdit(this)),
      counter_(new QLabel(this)),
      progressBar_(new QProgressBar(this)),
      pause_(new QPushButton(withAccessKey("Pause"), this)),
      stop_(new QPushButton(withAccessKey("Stop/Abort"), this)),
      transfers_(new QLabel(this)) {
    setObjectName(QStringLiteral("statusWindow"));
    setWindowTitle(QStringLiteral("Download status"));
    setFixedSize(kFirstSize);
    paintBackground(this, QColor(0x80, 0x80, 0x80));

    log_->setObjectName(QStringLiteral("log"));
    log_->setGeometry(twipsRect(840, 240, 5172, 2052));
    log_->setReadOnly(true);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    paintBase(log_, QColor(255, 255, 128));

    counter_->setObjectName(QStringLiteral("counter"));
    counter_->setGeometry(twipsRect(840, 2640, 5172, 372));
    counter_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    paintLabelFace(counter_);

    progressBar_->setObjectName(QStringLiteral("progressBar"));
    progressBar_->setGeometry(twipsRect(840, 3240, 5172, 492));
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);

    pause_->setObjectName(QStringLiteral("pause"));
    pause_->setGeometry(twipsRect(840, 4080, 1452, 372));
    stop_->setObjectName(QStringLiteral("stop"));
    stop_->setGeometry(twipsRect(4560, 4080, 1452, 372));

    transfers_->setObjectName(QStringLiteral("transfers"));
    transfers_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    transfers_->setTextFormat(Qt::PlainText);
    paintLabelFace(transfers_);
    transfers_->hide();

    progressBar_->setFocusPolicy(Qt::TabFocus);
    setTabOrder(progressBar_, log_);
    setTabOrder(log_, pause_);
    setTabOrder(pause_, stop_);

    connect(pause_, &QPushButton::clicked, this, [pauseClick] { pauseClick(); });
    connect(stop_, &QPushButton::clicked, this, [stopClick] { stopClick(); });

    if (owner != nullptr) {
        centreOn(this, owner);
        owner->installEventFilter(this);
    }
}

void QtStatusView::Window::closeEvent(QCloseEvent* event) {
    // Only the end of the job closes this window.
    event->ignore();
}

void QtStatusView::Window::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Minimised on its own, Pause and Stop would be out of reach until the job ends: back at
    // once, once the window manager has finished minimising it.
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        QTimer::singleShot(0, this, [this] { restoreUnlessOwnerMinimised(); });
    }
}

bool QtStatusView::Window::eventFilter(QObject* watched, QEvent* event) {
    // The owner back from its minimised state brings this window back with it.
    if (watched == owner_ && event->type() == QEvent::WindowStateChange) {
        QTimer::singleShot(0, this, [this] { restoreUnlessOwnerMinimised(); });
    }
    return QWidget::eventFilter(watched, event);
}

void QtStatusView::Window::restoreUnlessOwnerMinimised() {
    if (!isVisible() || !isMinimized()) return;
    if (owner_ != nullptr && owner_->isMinimized()) return;
    showNormal();
    raise();
}

void QtStatusView::Window::showTransfers(const std::vector<TransferRow>& rows) {
    const int lines = static_cast<int>(rows.size());
    const QFontMetrics metrics(transfers_->font());
    QStringList texts;
    for (const TransferRow& row : rows) {
        // The figures always show; a long name gives way in its middle.
        const QString figures = toDisplayText(transferText({"", row.bytes, row.total}));
        const int room = kTransfersPlace.width() - metrics.horizontalAdvance(figures);
        texts << metrics.elidedText(toDisplayText(row.name), Qt::ElideMiddle, std::max(room, 0)) +
                     figures;
    }
    transfers_->setText(texts.join(QLatin1Char('\n')));
    if (lines != transferLines_) {
        transferLines_ = lines;
        if (lines == 0) {
            transfers_->hide();
            setFixedSize(kFirstSize);
        } else {
            const int height = lines * metrics.lineSpacing() + 4;
            transfers_->setGeometry(kTransfersPlace.adjusted(0, 0, 0, height));
            transfers_->show();
            setFixedSize(kFirstSize.width(), kTransfersPlace.top() + height + kBottomMargin);
        }
    }
    transfers_->repaint();
}

QtStatusView::QtStatusView(QWidget* owner) : owner_(owner) {}

QtStatusView::~QtStatusView() {
    delete window_.data();
}

void QtStatusView::setHandlers(std::function<void()> pauseClick, std::function<void()> stopClick) {
    pauseClick_ = std::move(pauseClick);
    stopClick_ = std::move(stopClick);
}

QtStatusView::Window* QtStatusView::ensureWindow() {
    if (window_.isNull()) {
        window_ = new Window(
            owner_,
            [this] {
                if (pauseClick_) pauseClick_();
            },
            [this] {
                if (stopClick_) stopClick_();
            });
    }
    return window_;
}

void QtStatusView::createHidden() {
    ensureWindow()->log()->clear();
}

void QtStatusView::open() {
    // A window left over from start-up is still in its design-time state; one a job has shown
    // is gone by now.
    Window* window = ensureWindow();
    if (owner_ != nullptr) centreOn(window, owner_);
    window->show();
    window->raise();
    window->repaint();
}

void QtStatusView::close() {
    if (window_.isNull()) return;
    Window* window = window_;
    window_.clear();
    window->hide();
    // Deleted from the event loop: a button handler of this window may still be on the stack.
    window->deleteLater();
}

void QtStatusView::setLog(const std::string& text) {
    Window* window = ensureWindow();
    window->log()->setPlainText(toDisplayText(printableLines(text)));
    window->log()->moveCursor(QTextCursor::End);
    window->log()->repaint();
}

void QtStatusView::appendLog(const std::string& text) {
    Window* window = ensureWindow();
    QPlainTextEdit* log = window->log();
    log->moveCursor(QTextCursor::End);
    // Names and addresses come from the network: shown as the terminal shows them.
    log->insertPlainText(toDisplayText(printableLines(text)));
    log->moveCursor(QTextCursor::End);
    log->ensureCursorVisible();
    log->repaint();
}

void QtStatusView::setCounter(const std::string& text) {
    Window* window = ensureWindow();
    window->counter()->setText(toDisplayText(text));
    window->counter()->repaint();
}

void QtStatusView::setProgress(double minimum, double maximum, double value) {
    QProgressBar* bar = ensureWindow()->progressBar();
    const int low = toBarValue(minimum);
    int high = toBarValue(maximum);
    // An empty range would turn the bar into a busy indicator.
    if (high <= low) high = low == std::numeric_limits<int>::max() ? low : low + 1;
    bar->setRange(low, high);
    bar->setValue(std::clamp(toBarValue(value), low, high));
    bar->repaint();
}

void QtStatusView::setPauseCaption(const std::string& caption) {
    Window* window = ensureWindow();
    window->pauseButton()->setText(withAccessKey(caption));
    window->repaint();
}

void QtStatusView::setStopEnabled(bool enabled) {
    Window* window = ensureWindow();
    window->stopButton()->setEnabled(enabled);
    window->repaint();
}

void QtStatusView::showTransfers(const std::vector<TransferRow>& rows) {
    ensureWindow()->showTransfers(rows);
}

}  // namespace velnoria
