#pragma once

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace velnoria {

// An open file descriptor that is closed when it goes out of scope.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset();

  private:
    int fd_ = -1;
};

// Opens path for writing without ever following a symbolic link at its last component, emptied
// (truncated) when it already exists; readable as well when readBack is set. Invalid on failure.
UniqueFd openForWriting(const std::filesystem::path& path, bool readBack = false);

// Opens path for appending, created when missing, and for reading too where its permissions
// allow. Invalid on failure.
UniqueFd openForAppend(const std::filesystem::path& path);

// Writes all of data, retrying short writes and interruptions. False on an error.
bool writeAll(int fd, std::string_view data);

// The file's current length, or -1 when it cannot be read.
long long fileLength(int fd);

}  // namespace velnoria
