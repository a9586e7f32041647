#include "core/save_folder.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "core/temporary_file.h"

namespace velnoria {

std::string saveFolderProblem(const std::string& folder) {
    if (folder.empty()) return "no folder given";
    TemporaryFile probe(folder, "velnoria-", ".part", 0666);
    if (!probe.valid()) return std::strerror(probe.error());
    // A full file system still lets a file be made, but not a byte be stored in it.
    if (const int error = ::posix_fallocate(probe.fd(), 0, 1); error != 0 && error != EOPNOTSUPP) {
        return std::strerror(error);
    }
    return {};
}

std::string saveFolderProblemText(const std::string& folder, const std::string& problem) {
    return "Cannot save files in " + folder + ": " + problem;
}

}  // namespace velnoria
