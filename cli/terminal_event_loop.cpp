#include "cli/terminal_event_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>

#include "core/temporary_file.h"

namespace velnoria {

namespace {

volatile std::sig_atomic_t gInterrupts = 0;
volatile std::sig_atomic_t gJobRunning = 0;
volatile std::sig_atomic_t gErrIsTerminal = 0;
int gWakeRead = -1;
int gWakeWrite = -1;
struct sigaction gPreviousAction {};

void onInterrupt(int) {
    const int savedErrno = errno;
    gInterrupts = gInterrupts + 1;
    if (!gJobRunning || gInterrupts > 1) {
        if (gErrIsTerminal) (void)!::write(STDERR_FILENO, "\n", 1);
        removeTemporaryFilesNow();  // a download in hand, a page being scanned
        ::_exit(130);
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
    gJobRunning = 0;
    gErrIsTerminal = errIsTerminal ? 1 : 0;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &gPreviousAction);
}

TerminalEventLoop::~TerminalEventLoop() {
    ::sigaction(SIGINT, &gPreviousAction, nullptr);
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
