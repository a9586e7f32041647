#include "tests/support/own_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace velnoria::testing {

namespace {

// Starts Xvfb on the first free display number and points DISPLAY at it; "" when it runs, else
// the problem. Xvfb ends when this process does (the parent's death signal): what is connected
// to it stays so until the very end.
std::string startXvfb() {
    const char* const program = "/usr/bin/Xvfb";
    if (::access(program, X_OK) != 0) return std::string(program) + " is missing";
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return "no pipe for Xvfb";
    ::fcntl(pipeEnds[0], F_SETFD, FD_CLOEXEC);
    // Made before the fork: the child only calls what is safe there.
    std::string displayFd = std::to_string(pipeEnds[1]);
    char* const argv[] = {const_cast<char*>("Xvfb"),
                          const_cast<char*>("-displayfd"),
                          displayFd.data(),
                          const_cast<char*>("-screen"),
                          const_cast<char*>("0"),
                          const_cast<char*>("1280x1024x24"),
                          const_cast<char*>("-nolisten"),
                          const_cast<char*>("tcp"),
                          const_cast<char*>("-noreset"),
                          nullptr};
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        return "cannot start Xvfb";
    }
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        const int nothing = ::open("/dev/null", O_RDWR);
        ::dup2(nothing, STDIN_FILENO);
        ::dup2(nothing, STDOUT_FILENO);
        ::dup2(nothing, STDERR_FILENO);
        ::execv(program, argv);
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    // Xvfb writes the number of the display it took, and a line end, once it takes clients.
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds{20};
    while (number.empty() || number.back() != '\n') {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd wait{pipeEnds[0], POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char piece[16];
        const ssize_t got = ::read(pipeEnds[0], piece, sizeof piece);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // Xvfb ended
        number.append(piece, static_cast<std::size_t>(got));
    }
    ::close(pipeEnds[0]);
    if (number.empty() || number.back() != '\n') {
        ::kill(child, SIGTERM);
        ::waitpid(child, nullptr, 0);
        return "Xvfb did not tell its display within 20 s";
    }
    number.pop_back();
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    return "";
}

}  // namespace

const std::string& startOwnDisplay() {
    static const std::string problem = startXvfb();
    return problem;
}

}  // namespace velnoria::testing
