#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velnoria {

// One transfer in hand while files are downloaded at once: the file's name and the bytes that
// have come so far, of how many.
struct TransferRow {
    std::string name;
    std::uint64_t bytes = 0;
    std::int64_t total = -1;  // -1 when the answer did not say

    friend bool operator==(const TransferRow&, const TransferRow&) = default;
};

// What the status window shows; the model in download/ decides every text and state, a view only
// renders it (a Qt window in the desktop program, the terminal in velnoria-get).
class StatusView {
  public:
    virtual ~StatusView() = default;

    // Shows the window, owned by the main window. A job's window is fresh, in the design-time
    // state ("Pause", Stop enabled); the model sets its log and counter before showing it.
    virtual void open() = 0;
    virtual void close() = 0;

    virtual void setLog(const std::string& text) = 0;     // replaces the whole log
    virtual void appendLog(const std::string& text) = 0;  // adds at the end, scrolls, repaints
    virtual void setCounter(const std::string& text) = 0;
    virtual void setProgress(double minimum, double maximum, double value) = 0;
    virtual void setPauseCaption(const std::string& caption) = 0;
    virtual void setStopEnabled(bool enabled) = 0;
    // The transfers in hand, in the order given; an empty list when none runs. A view that has
    // no room for them shows nothing.
    virtual void showTransfers(const std::vector<TransferRow>& /*rows*/) {}
};

}  // namespace velnoria
