#include "cli/terminal_status_view.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "core/printable.h"
#include "download/status_window.h"

namespace velnoria {

namespace {

constexpr std::chrono::milliseconds kRedrawInterval{100};
constexpr int kBarWidth = 20;

int terminalColumns(std::FILE* stream) {
    winsize size{};
    if (::ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

std::string withoutLineEnds(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c != '\r' && c != '\n') out.push_back(c);
    }
    return out;
}

}  // namespace

std::string withLfLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out.push_back(text[i]);
    }
    return out;
}

TerminalStatusView::TerminalStatusView(std::FILE* out, std::FILE* err, bool errIsTerminal,
                                       int columns)
    : out_(out), err_(err), live_(errIsTerminal), columns_(columns) {}

void TerminalStatusView::open() {
    pending_.clear();
    counter_.clear();
    transfers_.clear();
    minimum_ = 0;
    maximum_ = 100;
    value_ = 0;
}

void TerminalStatusView::close() {
    endPendingLine();
    clearLiveLine();
}

void TerminalStatusView::setLog(const std::string& text) {
    endPendingLine();
    writeLines(text);
}

void TerminalStatusView::appendLog(const std::string& text) {
    writeLines(text);
}

void TerminalStatusView::writeLines(std::string_view text) {
    pending_.append(text);
    std::size_t start = 0;
    bool wrote = false;
    for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos;
         start = end + 1) {
        std::size_t length = end - start;
        if (length > 0 && pending_[end - 1] == '\r') --length;
        if (!wrote) clearLiveLine();
        writePrintable(std::string_view(pending_).substr(start, length));
        std::fputc('\n', out_);
        flush(out_);
        wrote = true;
    }
    pending_.erase(0, start);
    drawLiveLine(true);
}

void TerminalStatusView::endPendingLine() {
    if (pending_.empty()) return;
    clearLiveLine();
    writePrintable(pending_);
    std::fputc('\n', out_);
    flush(out_);
    pending_.clear();
}

void TerminalStatusView::printMessage(std::string_view text) {
    endPendingLine();
    clearLiveLine();
    const std::string lines = printableLines(withLfLineEnds(text));
    std::fwrite(lines.data(), 1, lines.size(), out_);
    std::fputc('\n', out_);
    flush(out_);
}

void TerminalStatusView::printError(std::string_view text) {
    endPendingLine();
    clearLiveLine();
    const std::string line = "velnoria-get: " + printableLines(withLfLineEnds(text)) + "\n";
    std::fputs(line.c_str(), err_);
    flush(err_);
    drawLiveLine(true);
}

void TerminalStatusView::setCounter(const std::string& text) {
    counter_ = withoutLineEnds(text);
    drawLiveLine(true);
}

void TerminalStatusView::setProgress(double minimum, double maximum, double value) {
    minimum_ = minimum;
    maximum_ = maximum;
    value_ = value;
    drawLiveLine(false);
}

void TerminalStatusView::showTransfers(const std::vector<TransferRow>& rows) {
    // A transfer that starts or ends shows at once; bytes that come only now and then.
    bool sameFiles = rows.size() == transfers_.size();
    for (std::size_t i = 0; sameFiles && i < rows.size(); ++i) {
        sameFiles = rows[i].name == transfers_[i].name;
    }
    transfers_ = rows;
    drawLiveLine(!sameFiles);
}

void TerminalStatusView::drawLiveLine(bool force) {
    if (!live_) return;
    if (counter_.empty() && pending_.empty() && transfers_.empty()) {
        clearLiveLine();
        return;
    }
    const double span = maximum_ - minimum_;
    double fraction = span > 0 ? (value_ - minimum_) / span : 0;
    fraction = std::clamp(std::isfinite(fraction) ? fraction : 0.0, 0.0, 1.0);
    const int percent = static_cast<int>(fraction * 100);
    // One redraw per piece would flood a slow terminal: only when the figure moves, or now and
    // then.
    const auto now = std::chrono::steady_clock::now();
    if (!force && liveShown_ && percent == shownPercent_ && now - lastDraw_ < kRedrawInterval) {
        return;
    }
    lastDraw_ = now;
    shownPercent_ = percent;

    const int filled = static_cast<int>(fraction * kBarWidth);
    const std::string bar = " [" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') +
                            "] " + std::to_string(percent) + "%";
    // The file in hand and its bar first; the counter as far as the width allows.
    std::string line = printableText(withoutLineEnds(pending_)) + bar;
    if (!counter_.empty()) line += "  " + counter_;
    for (const TransferRow& row : transfers_) line += "  " + printableText(transferText(row));
    const std::size_t columns =
        static_cast<std::size_t>(columns_ > 0 ? columns_ : terminalColumns(err_));
    if (columns > 1 && line.size() > columns - 1) line.resize(columns - 1);
    std::fputs(("\r\033[K" + line).c_str(), err_);
    flush(err_);
    liveShown_ = true;
}

void TerminalStatusView::writePrintable(std::string_view text) {
    // Names and addresses come from the network: no byte of theirs may steer the terminal.
    const std::string printable = printableText(text);
    std::fwrite(printable.data(), 1, printable.size(), out_);
}

void TerminalStatusView::flush(std::FILE* stream) {
    if (std::fflush(stream) == 0 && !std::ferror(stream)) return;
    const int error = errno;
    std::clearerr(stream);
    // Nobody reads any more: whatever comes next would fail the same way.
    if (error == EPIPE && outputClosed_) outputClosed_();
}

void TerminalStatusView::clearLiveLine() {
    if (!live_ || !liveShown_) return;
    std::fputs("\r\033[K", err_);
    flush(err_);
    liveShown_ = false;
}

}  // namespace velnoria
