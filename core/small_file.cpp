#include "core/small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/unique_fd.h"

namespace velnoria {

SmallFile readSmallFile(const std::filesystem::path& file, std::size_t limit, bool keepStart) {
    SmallFile read;
    const auto failed = [&](const char* why) {
        read.problem = why == nullptr ? "is not a file" : std::string("cannot be read: ") + why;
        read.text.clear();
        return read;
    };
    int fd;
    do {
        // O_NONBLOCK: a named pipe of that name must not hold the open up.
        fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return failed(std::strerror(errno));
    const UniqueFd in(fd);
    struct stat info {};
    if (::fstat(in.get(), &info) != 0) return failed(std::strerror(errno));
    if (!S_ISREG(info.st_mode)) return failed(nullptr);
    read.sizeAtOpen = static_cast<std::uint64_t>(info.st_size);
    if (read.sizeAtOpen > limit && !keepStart) {
        read.tooLong = true;
        return read;
    }

    // Room for what the file holds now, growing up to the bound should it grow meanwhile.
    const std::size_t most = limit + 1;
    read.text.resize(std::clamp<std::size_t>(static_cast<std::size_t>(info.st_size) + 1, 1, most));
    std::size_t filled = 0;
    for (;;) {
        if (filled == read.text.size()) {
            if (filled == most) break;
            read.text.resize(std::min(read.text.size() * 2, most));
        }
        const auto got = ::read(in.get(), read.text.data() + filled, read.text.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return failed(std::strerror(errno));
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    read.text.resize(filled);
    read.tooLong = filled > limit;
    return read;
}

}  // namespace velnoria
