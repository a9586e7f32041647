#include "download/status_window.h"

#include <chrono>

#include "download/program_state.h"

namespace velnoria {

namespace {
// How long one pass of the pause loop may sleep waiting for a click.
constexpr std::chrono::milliseconds kPauseWait{50};
}  // namespace

StatusWindow::StatusWindow(std::uint8_t& runState, StatusView& view, EventLoop& eventLoop)
    : runState_(runState), view_(view), eventLoop_(eventLoop) {}

void StatusWindow::open() {
    // Every job gets a fresh window with the design-time state.
    pauseCaption_ = "Pause";
    stopEnabled_ = true;
    progressMinimum_ = 0;
    progressMaximum_ = 100;
    progressValue_ = 0;
    view_.open();
    log_ = "Starting download process...\r\n";
    view_.setLog(log_);
    counter_.clear();
    view_.setCounter(counter_);
    open_ = true;
}

void StatusWindow::appendLog(const std::string& text) {
    log_ += text;
    view_.appendLog(text);
}

void StatusWindow::showFinishedCount(int count) {
    counter_ = "Download in progress... " + std::to_string(count) + " files finished.\r\n";
    view_.setCounter(counter_);
}

void StatusWindow::setProgressMinimum(double value) {
    progressMinimum_ = value;
    showProgress();
}

void StatusWindow::setProgressMaximum(double value) {
    progressMaximum_ = value;
    showProgress();
}

void StatusWindow::setProgressValue(double value) {
    progressValue_ = value;
    showProgress();
}

void StatusWindow::showProgress() {
    view_.setProgress(progressMinimum_, progressMaximum_, progressValue_);
}

void StatusWindow::close() {
    open_ = false;
    view_.close();
}

void StatusWindow::pauseClick() {
    if (runState_ == kRunning) {
        runState_ = kPaused;
        pauseCaption_ = "Continue";
        counter_ = "Paused";
        stopEnabled_ = false;
        view_.setCounter(counter_);
    } else {
        runState_ = kRunning;
        pauseCaption_ = "Pause";
        stopEnabled_ = true;
    }
    view_.setPauseCaption(pauseCaption_);
    view_.setStopEnabled(stopEnabled_);
    // Holds whoever yielded to us (the job) until Continue runs this handler again, nested.
    do {
        eventLoop_.yieldOnce(kPauseWait);
    } while (runState_ != kRunning);
}

void StatusWindow::stopClick() {
    runState_ = kStopRequested;
}

}  // namespace velnoria
