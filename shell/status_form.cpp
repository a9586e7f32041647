#include "shell/status_form.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/qt/qt_text.h"
#include "shell/twips.h"
#include "shell/window_style.h"

namespace velnoria {

namespace {

int toBarValue(double value) {
    if (std::isnan(value)) return 0;
    const double limit = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(value, -limit, limit));
}

}  // namespace

StatusForm::StatusForm(QWidget* owner, std::function<void()> pauseClick,
                       std::function<void()> stopClick)
    : QWidget(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      text1_(new QPlainTextEdit(this)),
      label1_(new QLabel(this)),
      progressBar1_(new QProgressBar(this)),
      pause_(new QPushButton(QStringLiteral("Pause"), this)),
      stop_(new QPushButton(QStringLiteral("Stop/Abort"), this)) {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Download status"));
    setFixedSize(twipsSize(7368, 4608));
    paintBackground(this, QColor(0x80, 0x80, 0x80));

    text1_->setObjectName(QStringLiteral("Text1"));
    text1_->setGeometry(twipsRect(840, 240, 5172, 2052));
    text1_->setReadOnly(true);
    text1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    paintBase(text1_, QColor(255, 255, 128));

    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->setGeometry(twipsRect(840, 2640, 5172, 372));
    label1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    paintLabelFace(label1_);

    progressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar1_->setGeometry(twipsRect(840, 3240, 5172, 492));
    progressBar1_->setRange(0, 100);
    progressBar1_->setValue(0);
    progressBar1_->setTextVisible(false);

    pause_->setObjectName(QStringLiteral("Pause"));
    pause_->setGeometry(twipsRect(840, 4080, 1452, 372));
    stop_->setObjectName(QStringLiteral("Stop"));
    stop_->setGeometry(twipsRect(4560, 4080, 1452, 372));

    progressBar1_->setFocusPolicy(Qt::TabFocus);
    setTabOrder(progressBar1_, text1_);
    setTabOrder(text1_, pause_);
    setTabOrder(pause_, stop_);

    connect(pause_, &QPushButton::clicked, this, [pauseClick] { pauseClick(); });
    connect(stop_, &QPushButton::clicked, this, [stopClick] { stopClick(); });

    if (owner != nullptr) centreOn(this, owner);
}

void StatusForm::closeEvent(QCloseEvent* event) {
    // Only the end of the job closes this window.
    event->ignore();
}

QtStatusView::QtStatusView(QWidget* owner) : owner_(owner) {}

QtStatusView::~QtStatusView() {
    delete form_.data();
}

void QtStatusView::setHandlers(std::function<void()> pauseClick, std::function<void()> stopClick) {
    pauseClick_ = std::move(pauseClick);
    stopClick_ = std::move(stopClick);
}

StatusForm* QtStatusView::ensureForm() {
    if (form_.isNull()) {
        form_ = new StatusForm(
            owner_,
            [this] {
                if (pauseClick_) pauseClick_();
            },
            [this] {
                if (stopClick_) stopClick_();
            });
    }
    return form_;
}

void QtStatusView::createHidden() {
    ensureForm()->log()->clear();
}

void QtStatusView::open() {
    // A window left over from start-up is still in its design-time state; one a job has shown
    // is gone by now.
    StatusForm* form = ensureForm();
    if (owner_ != nullptr) centreOn(form, owner_);
    form->show();
    form->raise();
    form->repaint();
}

void QtStatusView::close() {
    if (form_.isNull()) return;
    StatusForm* form = form_;
    form_.clear();
    form->hide();
    // Deleted from the event loop: a button handler of this window may still be on the stack.
    form->deleteLater();
}

void QtStatusView::setLog(const std::string& text) {
    StatusForm* form = ensureForm();
    form->log()->setPlainText(toDisplayText(text));
    form->log()->moveCursor(QTextCursor::End);
    form->log()->repaint();
}

void QtStatusView::appendLog(const std::string& text) {
    StatusForm* form = ensureForm();
    QPlainTextEdit* log = form->log();
    log->moveCursor(QTextCursor::End);
    log->insertPlainText(toDisplayText(text));
    log->moveCursor(QTextCursor::End);
    log->ensureCursorVisible();
    log->repaint();
}

void QtStatusView::setCounter(const std::string& text) {
    StatusForm* form = ensureForm();
    form->counter()->setText(toDisplayText(text));
    form->counter()->repaint();
}

void QtStatusView::setProgress(double minimum, double maximum, double value) {
    QProgressBar* bar = ensureForm()->progressBar();
    const int low = toBarValue(minimum);
    int high = toBarValue(maximum);
    // An empty range would turn the bar into a busy indicator.
    if (high <= low) high = low == std::numeric_limits<int>::max() ? low : low + 1;
    bar->setRange(low, high);
    bar->setValue(std::clamp(toBarValue(value), low, high));
    bar->repaint();
}

void QtStatusView::setPauseCaption(const std::string& caption) {
    StatusForm* form = ensureForm();
    form->pauseButton()->setText(toDisplayText(caption));
    form->repaint();
}

void QtStatusView::setStopEnabled(bool enabled) {
    StatusForm* form = ensureForm();
    form->stopButton()->setEnabled(enabled);
    form->repaint();
}

}  // namespace velnoria
