#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop.h"
#include "platform/status_view.h"

namespace velnoria {

// The status window on a terminal. The log goes to out line by line, as the window shows it but
// with LF line ends and each line as printableText shows it, flushed as soon as it is complete.
// When err is a terminal it also carries one live line: the counter, the log line being written,
// a progress bar and the transfers in hand.
class TerminalStatusView : public StatusView {
  public:
    // columns: the width of the live line; 0 asks the terminal.
    TerminalStatusView(std::FILE* out, std::FILE* err, bool errIsTerminal, int columns = 0);

    void open() override;
    void close() override;
    void setLog(const std::string& text) override;
    void appendLog(const std::string& text) override;
    void setCounter(const std::string& text) override;
    void setProgress(double minimum, double maximum, double value) override;
    void setPauseCaption(const std::string&) override {}
    void setStopEnabled(bool) override {}
    void showTransfers(const std::vector<TransferRow>& rows) override;

    // Ends the log line in progress (a file cut short by a stop) so other text can follow.
    void endPendingLine();
    // Text in the place of a message box, after the log: CR LF becomes LF.
    void printMessage(std::string_view text);
    // An error's text on err, as "velnoria-get: " and the text.
    void printError(std::string_view text);
    // Called when a write finds out or err closed at the reading end (EPIPE).
    void onOutputClosed(std::function<void()> hook) { outputClosed_ = std::move(hook); }

  private:
    void writeLines(std::string_view text);
    void writePrintable(std::string_view text);
    void drawLiveLine(bool force);
    void clearLiveLine();
    void flush(std::FILE* stream);

    std::FILE* out_;
    std::FILE* err_;
    bool live_;
    int columns_;
    int shownPercent_ = -1;
    std::string pending_;  // the unfinished last log line
    std::string counter_;
    std::vector<TransferRow> transfers_;
    double minimum_ = 0;
    double maximum_ = 100;
    double value_ = 0;
    bool liveShown_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::function<void()> outputClosed_;
};

// A message box on the terminal: its text goes to standard output after the log, an error's
// to standard error; nothing waits.
class TerminalMessageBox : public MessageBox {
  public:
    explicit TerminalMessageBox(TerminalStatusView& view) : view_(view) {}
    void show(const std::string&, const std::string& text, MessageIcon icon) override {
        if (icon == MessageIcon::Critical) {
            view_.printError(text);
        } else {
            view_.printMessage(text);
        }
    }

  private:
    TerminalStatusView& view_;
};

// LF line ends for a text written with CR LF.
std::string withLfLineEnds(std::string_view text);

}  // namespace velnoria
