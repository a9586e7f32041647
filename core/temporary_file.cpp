#include "core/temporary_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>

namespace velnoria {

namespace {

constexpr int kAttempts = 100;

}  // namespace

// The name of a temporary file in hand, in plain memory a signal handler may read. The list of
// them grows to the most files ever in hand at once; an entry is never freed, only marked unused
// and taken again. Its name is complete before it is marked used, and it is marked unused before
// the name changes.
struct TemporaryFileEntry {
    std::atomic<bool> used{false};
    TemporaryFileEntry* next = nullptr;  // set before the entry joins the list, never changed
    char path[PATH_MAX] = {};
};

namespace {

static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<TemporaryFileEntry*>::is_always_lock_free);

std::atomic<TemporaryFileEntry*> gEntries{nullptr};
std::mutex gEntriesChanging;  // between threads that make files; never taken in a handler

// The signals whose handlers end the program through removeTemporaryFilesNow(): held while a
// file comes into being or goes, so that neither is ever half done when the handler looks.
class EndingSignalsHeld {
  public:
    EndingSignalsHeld() {
        sigset_t ending;
        sigemptyset(&ending);
        for (const int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, number);
        ::pthread_sigmask(SIG_BLOCK, &ending, &previous_);
    }
    ~EndingSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    EndingSignalsHeld(const EndingSignalsHeld&) = delete;
    EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

  private:
    sigset_t previous_;
};

TemporaryFileEntry* registerPath(const std::string& path) {
    if (path.size() >= PATH_MAX) return nullptr;  // the open has failed already: no such path
    const std::lock_guard lock(gEntriesChanging);
    TemporaryFileEntry* entry = gEntries.load();
    while (entry != nullptr && entry->used.load()) entry = entry->next;
    const bool fresh = entry == nullptr;
    if (fresh) {
        entry = new TemporaryFileEntry;  // kept for the rest of the process
        entry->next = gEntries.load();
    }
    std::memcpy(entry->path, path.c_str(), path.size() + 1);
    entry->used.store(true);
    if (fresh) gEntries.store(entry);
    return entry;
}

void unregisterPath(TemporaryFileEntry*& entry) {
    if (entry != nullptr) entry->used.store(false);
    entry = nullptr;
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
    const EndingSignalsHeld held;
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
    if (fd_ >= 0) entry_ = registerPath(path_.string());
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
    const EndingSignalsHeld held;
    if (::rename(path_.c_str(), target.c_str()) != 0) {
        const int reason = errno;
        ::unlink(path_.c_str());
        unregisterPath(entry_);
        error_ = reason;
        errno = reason;
        return false;
    }
    unregisterPath(entry_);
    return true;
}

void TemporaryFile::remove() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    const EndingSignalsHeld held;
    ::unlink(path_.c_str());  // a file that cannot be deleted is of no consequence to the caller
    unregisterPath(entry_);
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
    for (TemporaryFileEntry* entry = gEntries.load(); entry != nullptr; entry = entry->next) {
        if (entry->used.load()) ::unlink(entry->path);
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
