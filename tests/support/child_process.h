#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace velnoria::testing {

struct ChildResult {
    int exitCode = -1;  // -1 when it did not exit normally
    bool timedOut = false;
    std::string out;
    std::string err;
    long peakMemoryKb = 0;              // the largest resident set it had
    std::chrono::milliseconds took{0};  // from its start to its end
};

// A program run in a folder of its own with the test's environment; its standard output and
// error go to files there, so nothing can block on a full pipe.
class ChildProcess {
  public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::filesystem::path& folder);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int number) const;
    // Waits for the end; a program still running after `bound` is killed (timedOut).
    ChildResult finish(std::chrono::milliseconds bound);

  private:
    pid_t pid_ = -1;
    std::filesystem::path outFile_;
    std::filesystem::path errFile_;
    bool finished_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

ChildResult runChild(const std::string& program, const std::vector<std::string>& args,
                     const std::filesystem::path& folder,
                     std::chrono::milliseconds bound = std::chrono::seconds(60));

}  // namespace velnoria::testing
