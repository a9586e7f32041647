#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download/run_state.h"
#include "platform/event_loop.h"
#include "platform/status_view.h"

namespace velnoria {

// A transfer in hand as the status window shows it: "name: 1.2 MB of 3.4 MB", or without
// " of ..." when the answer did not say how long it is.
std::string transferText(const TransferRow& row);

// The status window's model: its texts, the progress bar and the Pause/Continue and Stop/Abort
// logic over the program-wide run state. A view renders it; the view's buttons call
// pauseClick() and stopClick().
class StatusWindow {
  public:
    StatusWindow(RunState& runState, StatusView& view, EventLoop& eventLoop);

    // The job's operations.
    void open();  // log "Starting download process..." + CR LF, empty counter, then shown
    void appendLog(const std::string& text);
    void showFinishedCount(int count);
    void setProgressMinimum(double value);
    void setProgressMaximum(double value);
    void setProgressValue(double value);
    // The transfers in hand while files are downloaded at once; empty when none runs.
    void showTransfers(const std::vector<TransferRow>& rows);
    void close();

    // The buttons' handlers. pauseClick() returns only once the run state is back to running.
    void pauseClick();
    void stopClick();

    bool isOpen() const { return open_; }

  private:
    void showProgress();

    RunState& runState_;
    StatusView& view_;
    EventLoop& eventLoop_;
    double progressMinimum_ = 0;
    double progressMaximum_ = 100;
    double progressValue_ = 0;
    bool open_ = false;
};

}  // namespace velnoria
