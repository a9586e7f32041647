#include "cli/terminal_event_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>
#include <stdexcept>

#include "core/temporary_file.h"

namespace velnoria {

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Counted with atomics: a signal may be handled on another thread than the job's.
std::atomic<int> gInterrupts{0};
std::atomic<int> gStopStatus{0};  // of the first stop request
static_assert(std::atomic<int>::is_always_lock_free);
volatile std::sig_atomic_t gJobRunning = 0;
volatile std::sig_atomic_t gErrIsTerminal = 0;
bool gOutputClosed = false;
int gWakeRead = -1;
int gWakeWrite = -1;
struct sigaction gPreviousActions[std::size(kEndingSignals)]{};
struct sigaction gPreviousPipeAction {};

[[noreturn]] void endNow(int status) {
    removeTemporaryFilesNow();  // downloads in hand, a page being scanned, a file being replaced
    ::_exit(status);
}

void noteStopStatus(int status) {
    int none = 0;
    gStopStatus.compare_exchange_strong(none, status);
}

void onEndingSignal(int number) {
    const int savedErrno = errno;
    noteStopStatus(128 + number);
    const int interrupts = gInterrupts.fetch_add(1) + 1;
    if (!gJobRunning || interrupts > 1) {
        if (gErrIsTerminal) (void)!::write(STDERR_FILENO, "\n", 1);
        endNow(128 + number);
    }
    (void)!::write(gWakeWrite, "x", 1);
    errno = savedErrno;
}

}  // namespace

TerminalEventLoop::TerminalEventLoop(bool errIsTerminal) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
    gWakeRead = fds[0];
    gWakeWrite = fds[1];
    gInterrupts = 0;
    gStopStatus = 0;
    gJobRunning = 0;
    gOutputClosed = false;
    gErrIsTerminal = errIsTerminal ? 1 : 0;
    struct sigaction action {};
    action.sa_handler = onEndingSignal;
    sigemptyset(&action.sa_mask);
    // One handler at a time: a second signal waits until the first has been counted.
    for (const int number : kEndingSignals) sigaddset(&action.sa_mask, number);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        ::sigaction(kEndingSignals[i], &action, &gPreviousActions[i]);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &gPreviousPipeAction);
}

TerminalEventLoop::~TerminalEventLoop() {
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        ::sigaction(kEndingSignals[i], &gPreviousActions[i], nullptr);
    }
    ::sigaction(SIGPIPE, &gPreviousPipeAction, nullptr);
    ::close(gWakeRead);
    ::close(gWakeWrite);
    gWakeRead = gWakeWrite = -1;
}

void TerminalEventLoop::beginJob(StatusWindow& status) {
    status_ = &status;
    gJobRunning = 1;
}

void TerminalEventLoop::endJob() {
    gJobRunning = 0;
    status_ = nullptr;
}

void TerminalEventLoop::outputClosed() {
    if (gOutputClosed) return;
    gOutputClosed = true;
    if (!gJobRunning) endNow(kExitOutputClosed);
    // Counted as a signal is: a later Ctrl+C ends the program at once.
    noteStopStatus(kExitOutputClosed);
    gInterrupts.fetch_add(1);
    (void)!::write(gWakeWrite, "x", 1);
}

int TerminalEventLoop::stopStatus() const {
    return gStopStatus;
}

void TerminalEventLoop::deliverStops() {
    char drain[16];
    while (::read(gWakeRead, drain, sizeof drain) > 0) {
    }
    if (status_ != nullptr && gInterrupts > delivered_) {
        delivered_ = gInterrupts;
        status_->stopClick();
    }
}

bool TerminalEventLoop::stopPending() const {
    return status_ != nullptr && gInterrupts > delivered_;
}

void TerminalEventLoop::yieldOnce(std::chrono::milliseconds maxBlock) {
    deliverStops();
    if (maxBlock.count() <= 0) return;
    pollfd wake{gWakeRead, POLLIN, 0};
    ::poll(&wake, 1, static_cast<int>(maxBlock.count()));
    deliverStops();
}

}  // namespace velnoria
