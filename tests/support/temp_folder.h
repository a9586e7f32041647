#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace velnoria::testing {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// A file's bytes; "" when it cannot be read.
std::string readFile(const std::filesystem::path& file);

// Replaces a file with the bytes.
void writeFile(const std::filesystem::path& file, const std::string& bytes);

// The names of what a folder holds, sorted.
std::vector<std::string> namesIn(const std::filesystem::path& folder);

}  // namespace velnoria::testing
