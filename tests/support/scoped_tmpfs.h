#pragma once

#include <filesystem>
#include <string>

#include "tests/support/temp_folder.h"

namespace velnoria::testing {

// A small tmpfs mounted on a fresh folder for the object's lifetime (needs the right to mount,
// as the test command has when it runs as root); check mounted().
class ScopedTmpfs {
  public:
    explicit ScopedTmpfs(const std::string& size, bool readOnly = false);
    ~ScopedTmpfs();
    ScopedTmpfs(const ScopedTmpfs&) = delete;
    ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;

    bool mounted() const { return mounted_; }
    // Makes what it holds read-only from now on; false (error() says why) when it cannot.
    bool remountReadOnly();
    const std::string& error() const { return error_; }
    const std::filesystem::path& path() const { return folder_.path(); }

  private:
    TempFolder folder_;
    bool mounted_ = false;
    std::string error_;
};

}  // namespace velnoria::testing
