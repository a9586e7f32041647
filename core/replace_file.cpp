#include "core/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "core/temporary_file.h"
#include "core/unique_fd.h"

namespace velnoria {

namespace {

// The rename is only lasting once the folder that holds the new name is on the disk as well.
void syncFolder(const std::filesystem::path& folder) {
    const UniqueFd handle(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // The file is in place already: a folder that cannot be synced changes nothing for the caller.
    if (handle.valid()) ::fsync(handle.get());
}

}  // namespace

int replaceFile(const std::filesystem::path& file, std::string_view text, mode_t newFileMode) {
    std::error_code ec;
    std::filesystem::path target = file;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(file, ec))) {
        target = std::filesystem::weakly_canonical(file, ec);
        if (ec) return ec.value();
    }
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (!existed && errno != ENOENT) return errno;
    if (existed && !S_ISREG(old.st_mode)) return S_ISDIR(old.st_mode) ? EISDIR : EINVAL;

    TemporaryFile fresh(target.parent_path(), target.filename().string() + ".", "", newFileMode);
    if (!fresh.valid()) return fresh.error();
    if (!writeAll(fresh.fd(), text)) return errno;
    if (existed && ::fchmod(fresh.fd(), old.st_mode & 07777) != 0) return errno;
    if (::fsync(fresh.fd()) != 0) return errno;
    if (!fresh.moveTo(target)) return errno;
    syncFolder(target.parent_path());
    return 0;
}

}  // namespace velnoria
