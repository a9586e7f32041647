#include "download/failure_log.h"

#include <string>

#include "download/unique_fd.h"

namespace velnoria {

bool appendToFailureLog(const std::filesystem::path& folder, std::string_view url) {
    const UniqueFd file = openForAppend(folder / "failed.txt");
    if (!file.valid()) return false;
    // One write per line, so that the line is never split by another writer.
    std::string line(url);
    line += "\r\n";
    return writeAll(file.get(), line);
}

}  // namespace velnoria
