#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velnoria::testing {

namespace {

std::string slurp(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::filesystem::path& folder)
    : outFile_(std::filesystem::path(folder).concat(".stdout")),
      errFile_(std::filesystem::path(folder).concat(".stderr")) {
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    // The child starts with the default disposition of the signals that end a program, whatever
    // the test runner set: a program that does not handle one of them is ended by it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, number);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    const int failed =
        posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) throw std::runtime_error("cannot start " + program);
}

ChildProcess::~ChildProcess() {
    if (!finished_) finish(std::chrono::milliseconds(0));
    std::error_code ec;
    std::filesystem::remove(outFile_, ec);
    std::filesystem::remove(errFile_, ec);
}

void ChildProcess::signal(int number) const {
    ::kill(pid_, number);
}

ChildResult ChildProcess::finish(std::chrono::milliseconds bound) {
    ChildResult result;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = ::wait4(pid_, &status, WNOHANG, &usage);
        if (done == pid_) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::wait4(pid_, &status, 0, &usage);
            result.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    finished_ = true;
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start_);
    result.peakMemoryKb = usage.ru_maxrss;
    if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.out = slurp(outFile_);
    result.err = slurp(errFile_);
    return result;
}

ChildResult runChild(const std::string& program, const std::vector<std::string>& args,
                     const std::filesystem::path& folder, std::chrono::milliseconds bound) {
    ChildProcess child(program, args, folder);
    return child.finish(bound);
}

}  // namespace velnoria::testing
