#include "download/file_download.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "core/text.h"
#include "core/unique_fd.h"
#include "download/rules/rule_text.h"
#include "download/safe_file_name.h"

namespace velnoria {

std::string cannotWrite(int error) {
    return "cannot write: " + std::string(std::strerror(error));
}

std::string jobFileName(const JobContext& job, const DownloadTarget& target) {
    const std::string fileName = safeFileName(target.name);
    if (fileName.empty()) return fileName;
    return unusedName(fileName, [&](const std::string& name) {
        const auto saved = job.savedNames.find(name);
        return saved != job.savedNames.end() && saved->second != target.url;
    });
}

std::string displayedName(const std::string& fileName) {
    std::string shown;
    assignField(shown, [&] { return lastField(fileName, "\\"); });
    return shown;
}

std::string nameFamily(const std::string& fileName) {
    const std::size_t dot = fileName.rfind('.');
    const std::size_t cut = dot == std::string::npos || dot == 0 ? fileName.size() : dot;
    std::string stem = fileName.substr(0, cut);
    for (;;) {
        // " (N)" at the end of the stem
        if (stem.size() < 4 || stem.back() != ')') break;
        const std::size_t open = stem.rfind(" (");
        if (open == std::string::npos || open + 3 > stem.size() - 1) break;
        const std::string_view digits(stem.data() + open + 2, stem.size() - open - 3);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
            break;
        }
        stem.resize(open);
    }
    return stem + fileName.substr(cut);
}

bool nameIsFree(const std::filesystem::path& target) {
    struct stat info {};
    return ::lstat(target.c_str(), &info) != 0 && errno == ENOENT;
}

std::string targetProblem(const std::string& fileName, const std::filesystem::path& target) {
    if (fileName.empty()) return "no usable file name";
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        return "cannot write: not a regular file";  // a link, a folder or a device: never ours
    }
    return {};
}

std::string answerProblem(std::string_view headerBlock) {
    if (const int status = statusCode(headerBlock); status >= 400) {
        return "HTTP " + std::to_string(status);
    }
    if (headerBlock.find("500 Internal Server Error") != std::string_view::npos) {
        return "server error: 500 Internal Server Error";
    }
    if (headerBlock.find("Unable to complete request") != std::string_view::npos) {
        return "server error: Unable to complete request";
    }
    if (isHtmlMediaType(headerValue(headerBlock, "Content-Type"))) return kHtmlAnswer;
    return {};
}

std::string lengthProblem(long long written, std::int64_t expected) {
    if (written == expected) return {};
    return std::to_string(std::max(written, 0LL)) + " of " + std::to_string(expected) + " bytes";
}

std::string attemptEndText(const std::string& reason, int attempt) {
    if (reason.empty()) return "OK\r\n";
    return "FAILED (" + reason + ")\r\n" +
           (attempt < kAttempts - 1 ? "RESTART DOWNLOAD.\r\n" : "FAILURE LOGGED.\r\n");
}

std::string notWebAddressText(const std::string& displayName) {
    // Nothing can come of asking: said once.
    return "Downloading file " + displayName +
           "...FAILED (not a web address)\r\nFAILURE LOGGED.\r\n";
}

void noteSaved(JobContext& job, const std::string& fileName, const std::string& url) {
    if (job.finishedCount < kLargestCount) ++job.finishedCount;
    job.savedNames[fileName] = url;
}

bool AttemptFile::open() {
    if (file_) return true;
    file_.emplace(target_.parent_path(), "velnoria-", ".part", 0666);
    if (file_->valid()) return true;
    error_ = file_->error();
    file_.reset();
    return false;
}

bool AttemptFile::write(std::string_view bytes) {
    if (!open()) return false;
    if (writeAll(file_->fd(), bytes)) return true;
    error_ = errno;
    return false;
}

long long AttemptFile::length() const {
    return file_ ? fileLength(file_->fd()) : -1;
}

bool AttemptFile::keep() {
    if (!open()) return false;
    const bool moved = file_->moveTo(target_);
    if (!moved) error_ = errno;
    file_.reset();
    return moved;
}

void AttemptFile::abandon(bool keepWhatWasWritten) {
    if (file_ && keepWhatWasWritten) file_->moveTo(target_);
    file_.reset();
}

}  // namespace velnoria
