#include "core/temporary_file.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace velnoria {

namespace {

constexpr int kAttempts = 100;

// The names of the temporary files that exist, in plain memory a signal handler may read. A slot
// is marked used only once its name is complete, and unused before the name changes.
struct Slot {
    volatile std::sig_atomic_t used = 0;
    char path[PATH_MAX] = {};
};
std::array<Slot, 8> gSlots;

int registerPath(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (std::size_t i = 0; i < gSlots.size(); ++i) {
        if (gSlots[i].used) continue;
        std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        gSlots[i].used = 1;
        return static_cast<int>(i);
    }
    return -1;  // only the clean-up at an abrupt end misses this one
}

void unregisterPath(int& slot) {
    if (slot >= 0) gSlots[static_cast<std::size_t>(slot)].used = 0;
    slot = -1;
}

std::string randomLetters() {
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string letters(6, 'x');
    for (char& c : letters) c = kLetters[pick(generator)];
    return letters;
}

}  // namespace

TemporaryFile::TemporaryFile(const std::filesystem::path& folder, std::string_view prefix,
                             std::string_view suffix, mode_t mode) {
    error_ = EEXIST;
    for (int attempt = 0; attempt < kAttempts && error_ == EEXIST; ++attempt) {
        std::filesystem::path candidate =
            folder / (std::string(prefix) + randomLetters() + std::string(suffix));
        do {
            fd_ =
                ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        } while (fd_ < 0 && errno == EINTR);
        error_ = fd_ < 0 ? errno : 0;
        if (fd_ >= 0) path_ = std::move(candidate);
    }
    if (fd_ >= 0) slot_ = registerPath(path_.string());
}

TemporaryFile::~TemporaryFile() {
    remove();
}

bool TemporaryFile::moveTo(const std::filesystem::path& target) {
    if (fd_ < 0) {
        errno = error_ != 0 ? error_ : EBADF;
        return false;
    }
    ::close(fd_);
    fd_ = -1;
    if (::rename(path_.c_str(), target.c_str()) != 0) {
        const int reason = errno;
        ::unlink(path_.c_str());
        unregisterPath(slot_);
        error_ = reason;
        errno = reason;
        return false;
    }
    unregisterPath(slot_);
    return true;
}

void TemporaryFile::remove() {
    if (fd_ < 0) return;
    unregisterPath(slot_);
    ::close(fd_);
    fd_ = -1;
    ::unlink(path_.c_str());  // a file that cannot be deleted is of no consequence to the caller
}

std::filesystem::path temporaryFolder() {
    std::error_code ec;
    if (const char* tmpdir = std::getenv("TMPDIR");
        tmpdir != nullptr && tmpdir[0] == '/' && std::filesystem::is_directory(tmpdir, ec)) {
        return tmpdir;
    }
    return "/tmp";
}

void removeTemporaryFilesNow() {
    for (Slot& slot : gSlots) {
        if (slot.used) ::unlink(slot.path);
    }
}

UniqueFd unnamedTemporaryFile(std::string& error) {
    const std::filesystem::path folder = temporaryFolder();
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        // A file system without unnamed files: a named one, unlinked at once.
        std::string name = (folder / "velnoria-page-XXXXXX").string();
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) ::unlink(name.c_str());
    }
    if (fd < 0) error = std::strerror(errno);
    return UniqueFd(fd);
}

}  // namespace velnoria
