#include "download/status_window.h"

#include <chrono>
#include <cstdio>

#include "download/program_state.h"

namespace velnoria {

namespace {
// How long one pass of the pause loop may sleep waiting for a click.
constexpr std::chrono::milliseconds kPauseWait{50};
// A byte count for people: whole bytes below a kilobyte, else one decimal of kB, MB or GB.
std::string byteCountText(std::uint64_t bytes) {
    if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    const char* const units[] = {"kB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1000;
    std::size_t unit = 0;
    // 999.96 kB would print as "1000.0 kB": such a value already counts in the next unit.
    while (value >= 999.95 && unit + 1 < std::size(units)) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

}  // namespace

std::string transferText(const TransferRow& row) {
    std::string text = row.name + ": " + byteCountText(row.bytes);
    if (row.total >= 0) text += " of " + byteCountText(static_cast<std::uint64_t>(row.total));
    return text;
}

StatusWindow::StatusWindow(RunState& runState, StatusView& view, EventLoop& eventLoop)
    : runState_(runState), view_(view), eventLoop_(eventLoop) {}

void StatusWindow::open() {
    // Every job gets a fresh window with the design-time state, filled before it is shown.
    progressMinimum_ = 0;
    progressMaximum_ = 100;
    progressValue_ = 0;
    view_.setLog("Starting download process...\r\n");
    view_.setCounter("");
    view_.open();
    open_ = true;
}

void StatusWindow::appendLog(const std::string& text) {
    view_.appendLog(text);
}

void StatusWindow::showFinishedCount(int count) {
    view_.setCounter("Download in progress... " + std::to_string(count) + " files finished.\r\n");
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

void StatusWindow::showTransfers(const std::vector<TransferRow>& rows) {
    view_.showTransfers(rows);
}

void StatusWindow::close() {
    open_ = false;
    view_.close();
}

void StatusWindow::pauseClick() {
    if (runState_ == RunState::Running) {
        runState_ = RunState::Paused;
        view_.setCounter("Paused");
        view_.setPauseCaption("Continue");
        view_.setStopEnabled(false);
    } else {
        runState_ = RunState::Running;
        view_.setPauseCaption("Pause");
        view_.setStopEnabled(true);
    }
    // Holds whoever yielded to us (the job) until Continue runs this handler again, nested.
    do {
        eventLoop_.yieldOnce(kPauseWait);
    } while (runState_ != RunState::Running);
}

void StatusWindow::stopClick() {
    runState_ = RunState::StopRequested;
}

}  // namespace velnoria
