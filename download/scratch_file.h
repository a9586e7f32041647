#pragma once

#include <filesystem>

#include "download/unique_fd.h"

namespace velnoria {

// A short-lived file that holds an intermediate page: whatever stood at the name is replaced, and
// the file is closed and deleted when this object goes away, whichever way the scan is left.
class ScratchFile {
  public:
    explicit ScratchFile(std::filesystem::path path);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    bool isOpen() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    UniqueFd fd_;
};

}  // namespace velnoria
