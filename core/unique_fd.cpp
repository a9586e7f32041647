#include "core/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace velnoria {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

int UniqueFd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

UniqueFd openForWriting(const std::filesystem::path& path, bool readBack) {
    const int access = readBack ? O_RDWR : O_WRONLY;
    int fd;
    do {
        // O_NONBLOCK keeps a named pipe at the path from blocking the open; cleared below.
        fd = ::open(path.c_str(), access | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                    0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return {};
    // Only a regular file may be written: never a device or a pipe that happens to have the name.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return {};
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return UniqueFd(fd);
}

UniqueFd openForAppend(const std::filesystem::path& path) {
    int fd = -1;
    for (const int access : {O_RDWR, O_WRONLY}) {
        do {
            fd = ::open(path.c_str(), access | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0 || errno != EACCES) break;
    }
    return UniqueFd(fd);
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const auto written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

long long fileLength(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return -1;
    return static_cast<long long>(info.st_size);
}

}  // namespace velnoria
