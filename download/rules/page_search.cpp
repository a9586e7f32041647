#include "download/rules/page_search.h"

#include <fcntl.h>
#include <re2/re2.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/unique_fd.h"

namespace velnoria {

namespace {

// A file without a name in the temporary folder: nothing of the user's is touched, and nothing
// stays behind, however the program ends.
UniqueFd unnamedScratchFile(std::string& error) {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    if (ec) folder = "/tmp";
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

// A file's bytes mapped for reading, unmapped at the end.
class MappedFile {
  public:
    explicit MappedFile(int fd) {
        struct stat info {};
        if (::fstat(fd, &info) != 0) {
            error_ = std::strerror(errno);
            return;
        }
        size_ = static_cast<std::size_t>(info.st_size);
        if (size_ == 0) return;
        void* data = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (data == MAP_FAILED) {
            error_ = std::strerror(errno);
            size_ = 0;
            return;
        }
        data_ = static_cast<const char*>(data);
        ::madvise(data, size_, MADV_SEQUENTIAL);
    }
    ~MappedFile() {
        if (data_ != nullptr) ::munmap(const_cast<char*>(data_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    std::string_view bytes() const { return {data_ == nullptr ? "" : data_, size_}; }

  private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
    std::string error_;
};

}  // namespace

std::optional<Captures> searchPageText(std::string_view page, const re2::RE2& find) {
    auto found = searchCaptures(find, page, kMaxFoundBytes);
    if (found) {
        for (std::string& group : found->groups) group = decodeCharacterReferences(group);
    }
    return found;
}

std::optional<Captures> searchPageFile(int fd, const re2::RE2& find, std::string& error) {
    const MappedFile page(fd);
    if (!page.ok()) {
        error = "the page cannot be read back: " + page.error();
        return std::nullopt;
    }
    return searchPageText(page.bytes(), find);
}

PageSearch searchPage(UrlDownload& download, const std::string& pageUrl, const re2::RE2& find) {
    PageSearch result;
    result.address = pageUrl;
    std::string error;
    const UniqueFd scratch = unnamedScratchFile(error);
    if (!scratch.valid()) {
        result.error = "no temporary file: " + error;
        return result;
    }
    const int fd = scratch.get();
    const DownloadOutcome outcome = download.download(
        pageUrl,
        [fd](const char* data, std::size_t size) {
            return writeAll(fd, std::string_view(data, size));
        },
        kMaxPageBytes);
    if (!outcome.finalUrl.empty()) result.address = outcome.finalUrl;
    if (!outcome.transferred) {
        result.error = outcome.error.empty() ? "the transfer failed" : outcome.error;
        return result;
    }
    if (!outcome.written) {
        result.error = "the temporary file cannot be written";
        return result;
    }
    if (outcome.httpStatus >= 400) {
        result.error = "HTTP " + std::to_string(outcome.httpStatus);
        return result;
    }
    result.found = searchPageFile(fd, find, error);
    if (!error.empty()) {
        result.error = error;
        return result;
    }
    result.read = true;
    return result;
}

}  // namespace velnoria
