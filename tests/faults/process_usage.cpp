#include "tests/faults/process_usage.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace velnoria::testing {

std::size_t residentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) != 0) continue;
        std::istringstream fields(line.substr(6));
        std::size_t kilobytes = 0;
        fields >> kilobytes;
        return kilobytes * 1024;
    }
    return 0;
}

std::size_t openFileCount() {
    std::error_code ec;
    const std::filesystem::directory_iterator entries("/proc/self/fd", ec);
    if (ec) return 0;
    return static_cast<std::size_t>(std::distance(entries, std::filesystem::directory_iterator()));
}

}  // namespace velnoria::testing
