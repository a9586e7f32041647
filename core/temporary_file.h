#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "core/unique_fd.h"

namespace velnoria {

// A file the program needs for a moment: a page while it is searched, a download until it is
// whole, the settings until they replace the old ones. It is made under a fresh name with
// O_EXCL, so nothing that already stands in the folder is opened, replaced or followed, and it is
// removed when this object goes away unless it was moved into place.
struct TemporaryFileEntry;

class TemporaryFile {
  public:
    // Makes "<folder>/<prefix><six random letters><suffix>" with the given permissions (the
    // umask applies). Check valid(); error() holds errno when it could not be made.
    TemporaryFile(const std::filesystem::path& folder, std::string_view prefix,
                  std::string_view suffix, mode_t mode);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return fd_ >= 0; }
    int error() const { return error_; }
    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }

    // Closes the file and renames it to target, replacing what stands there. False (errno set)
    // when the rename failed; the file is then deleted.
    bool moveTo(const std::filesystem::path& target);

    // Closes and deletes the file now.
    void remove();

  private:
    std::filesystem::path path_;
    int fd_ = -1;
    int error_ = 0;
    TemporaryFileEntry* entry_ = nullptr;  // in the list removeTemporaryFilesNow() works through
};

// A file without a name in the system's temporary folder, open for reading and writing: nothing
// of the user's is touched, and nothing stays behind however the program ends. Invalid, with the
// reason in error, when none can be made.
UniqueFd unnamedTemporaryFile(std::string& error);

// The system's folder for temporary files: $TMPDIR when it names a folder, else /tmp.
std::filesystem::path temporaryFolder();

// Deletes every temporary file that still exists, however many there are, for an end of the
// process that skips the destructors (a second Ctrl+C, the main window closed during a job).
// Async-signal-safe. A temporary file is made, renamed and deleted with SIGINT, SIGTERM and SIGHUP
// held, so a handler of theirs that calls this never misses a file of this thread's that exists.
void removeTemporaryFilesNow();

}  // namespace velnoria
