#include "tests/support/scoped_tmpfs.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace velnoria::testing {

ScopedTmpfs::ScopedTmpfs(const std::string& size, bool readOnly) {
    const std::string options = "size=" + size + ",mode=0755";
    const unsigned long flags = MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
    if (::mount("tmpfs", folder_.path().c_str(), "tmpfs", flags, options.c_str()) == 0) {
        mounted_ = true;
    } else {
        error_ = std::strerror(errno);
    }
}

bool ScopedTmpfs::remountReadOnly() {
    if (::mount(nullptr, folder_.path().c_str(), nullptr,
                MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) == 0) {
        return true;
    }
    error_ = std::strerror(errno);
    return false;
}

ScopedTmpfs::~ScopedTmpfs() {
    if (mounted_) ::umount2(folder_.path().c_str(), MNT_DETACH);
}

}  // namespace velnoria::testing
