#include "download/fetch_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "core/temporary_file.h"
#include "core/text.h"
#include "core/unique_fd.h"
#include "download/dry_run.h"
#include "download/rule_text.h"
#include "download/safe_file_name.h"

namespace velnoria {

namespace {

constexpr int kAttempts = 3;
constexpr int kLargestCount = 32767;  // the finished count is a 16-bit number
// An answer without a length is taken up to the largest length an answer may announce, so an
// endless body cannot fill the disk.
constexpr std::uint64_t kLargestUnannouncedBody = 2147483647;
constexpr const char* kHtmlAnswer = "not an image: HTML page";

std::string cannotWrite(int error) {
    return "cannot write: " + std::string(std::strerror(error));
}

bool isWebAddress(std::string_view url) {
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (startsWithNoCase(url, scheme) && url.size() > scheme.size()) return true;
    }
    return false;
}

bool stopRequested(const JobContext& job) {
    return job.program.runState == kStopRequested;
}

// Leaves the file in hand and the job: the request is cancelled and the walk abandoned.
[[noreturn]] void honourStop(JobContext& job) {
    job.services.transfer.cancel();
    job.program.runState = kRunning;
    throw JobStopped{};
}

// The bytes of one attempt on their way to the target: a temporary file beside it, made when the
// first byte is to be written, renamed over the target only when the attempt succeeds. So a
// failed or stopped attempt never replaces a file that was there before.
class AttemptFile {
  public:
    explicit AttemptFile(const std::filesystem::path& target) : target_(target) {}

    bool isOpen() const { return file_.has_value(); }
    int error() const { return error_; }

    bool open() {
        if (file_) return true;
        file_.emplace(target_.parent_path(), "velnoria-", ".part", 0666);
        if (file_->valid()) return true;
        error_ = file_->error();
        file_.reset();
        return false;
    }
    bool write(std::string_view bytes) {
        if (!open()) return false;
        if (writeAll(file_->fd(), bytes)) return true;
        error_ = errno;
        return false;
    }
    long long length() const { return file_ ? fileLength(file_->fd()) : -1; }

    // The finished file under the target's name; false (error() tells why) when it cannot be.
    bool keep() {
        if (!open()) return false;
        if (file_->moveTo(target_)) return true;
        error_ = errno;
        return false;
    }
    // A failed attempt: what it wrote stays under the target's name only when no file had that
    // name before (as a failed download always left its bytes), else it goes.
    void abandon(bool keepWhatWasWritten) {
        if (file_ && keepWhatWasWritten) file_->moveTo(target_);
        file_.reset();
    }

  private:
    std::filesystem::path target_;
    std::optional<TemporaryFile> file_;
    int error_ = 0;
};

struct Attempt {
    JobContext& job;
    const std::string& url;
    const std::string& fileName;  // already made safe; "" means nothing may be written
    std::filesystem::path target;
    bool keepFailed;  // no file had the target's name when the download began
    std::string& piece;
};

// The whole body by the blocking download, for answers that announce no length. Judged by its
// outcome; "" when it succeeded, else the reason.
std::string downloadWhole(const Attempt& attempt, AttemptFile& file) {
    HtmlStartSniffer sniffer;
    int writeError = 0;
    const DownloadOutcome outcome = attempt.job.services.urlDownload.download(
        attempt.url,
        [&](const char* data, std::size_t size) {
            const std::string_view bytes(data, size);
            sniffer.feed(bytes);
            if (file.write(bytes)) return true;
            writeError = file.error();
            return false;
        },
        kLargestUnannouncedBody);
    if (outcome.interrupted) {
        file.abandon(attempt.keepFailed);
        stopAfterInterruption(attempt.job);
    }
    if (!outcome.written) return cannotWrite(writeError);
    if (!outcome.transferred) return outcome.error.empty() ? "transfer failed" : outcome.error;
    if (outcome.httpStatus >= 400) return "HTTP " + std::to_string(outcome.httpStatus);
    if (!file.open()) return cannotWrite(file.error());  // an empty body still makes the file
    if (isHtmlMediaType(outcome.contentType) || sniffer.isHtml()) return kHtmlAnswer;
    return {};
}

// The body in pieces of PieceSize bytes, driving the progress bar; "" when all of it arrived and
// was written, else the reason. Throws JobStopped on a stop request.
std::string readInPieces(const Attempt& attempt, AttemptFile& file, std::int32_t expectedSize) {
    JobContext& job = attempt.job;
    TransferControl& transfer = job.services.transfer;
    StatusWindow& status = job.services.status;
    const std::int64_t pieceSize = std::max<std::int32_t>(1, job.program.settings.pieceSize);

    status.setProgressMaximum(expectedSize);
    if (!file.open()) return cannotWrite(file.error());
    std::string reason;
    HtmlStartSniffer sniffer;
    std::int64_t remaining = expectedSize;
    while (transfer.failureCode() <= 0 && remaining != 0) {
        status.setProgressValue(static_cast<double>(expectedSize - remaining));
        if (stopRequested(job)) {
            file.abandon(attempt.keepFailed);
            honourStop(job);
        }
        // Remaining goes down by the count asked for, whatever arrives.
        const std::int64_t asked = std::min(remaining, pieceSize);
        transfer.readPiece(static_cast<std::size_t>(asked), attempt.piece);
        remaining -= asked;
        if (stopRequested(job)) {
            // Stop/Abort cut the wait for this piece short: what did arrive is kept like any
            // part of a stopped file.
            if (transfer.failureCode() <= 0) file.write(attempt.piece);
            file.abandon(attempt.keepFailed);
            honourStop(job);
        }
        if (transfer.failureCode() > 0) {
            reason = transfer.failureReason();  // this piece is not written
            continue;
        }
        sniffer.feed(attempt.piece);
        if (!file.write(attempt.piece)) {
            reason = cannotWrite(file.error());
            break;
        }
        // Fewer bytes than asked for: the body has ended, and asking on would find nothing.
        if (static_cast<std::int64_t>(attempt.piece.size()) < asked) break;
    }
    status.setProgressValue(expectedSize);
    const long long written = file.length();
    if (reason.empty() && written != expectedSize) {
        reason = std::to_string(std::max(written, 0LL)) + " of " + std::to_string(expectedSize) +
                 " bytes";
    }
    if (reason.empty() && sniffer.isHtml()) reason = kHtmlAnswer;
    return reason;
}

// Why nothing can be saved under the target's name before anything is asked for; "" when it can.
std::string targetProblem(const Attempt& attempt) {
    if (attempt.fileName.empty()) return "no usable file name";
    struct stat info {};
    if (::lstat(attempt.target.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        return "cannot write: not a regular file";  // a link, a folder or a device: never ours
    }
    return {};
}

// Why the answer's headers fail the attempt (the body is still read and written); "" when not.
std::string answerProblem(const TransferControl& transfer) {
    const std::string headerBlock = transfer.headerBlock();
    if (const int status = statusCode(headerBlock); status >= 400) {
        return "HTTP " + std::to_string(status);
    }
    if (headerBlock.find("500 Internal Server Error") != std::string::npos) {
        return "server error: 500 Internal Server Error";
    }
    if (headerBlock.find("Unable to complete request") != std::string::npos) {
        return "server error: Unable to complete request";
    }
    if (isHtmlMediaType(transfer.header("Content-Type"))) return kHtmlAnswer;
    return {};
}

// One attempt from the request to the saved file; "" when it succeeded, else the reason.
std::string attemptDownload(const Attempt& attempt) {
    JobContext& job = attempt.job;
    TransferControl& transfer = job.services.transfer;
    StatusWindow& status = job.services.status;

    if (std::string problem = targetProblem(attempt); !problem.empty()) return problem;
    transfer.start(attempt.url, TransferControl::Method::Get);
    waitForAnswer(job);
    if (transfer.failureCode() != 0) return transfer.failureReason();

    std::string reason = answerProblem(transfer);
    AttemptFile file(attempt.target);
    const auto length = readContentLength(transfer.header("Content-Length"));
    if (!length) {
        status.appendLog(
            "\r\nWarning! Unknown file size, trying alternative method for download...");
        std::string whole = downloadWhole(attempt, file);
        if (reason.empty()) reason = std::move(whole);
    }
    status.setProgressMinimum(0);
    status.setProgressValue(0);
    if (length) {
        std::string pieces = readInPieces(attempt, file, *length);
        if (reason.empty()) reason = std::move(pieces);
    }
    if (reason.empty() && !file.keep()) reason = cannotWrite(file.error());
    if (!reason.empty()) file.abandon(attempt.keepFailed);
    return reason;
}

}  // namespace

void waitForAnswer(JobContext& job) {
    TransferControl& transfer = job.services.transfer;
    do {
        job.services.eventLoop.yieldOnce();
        if (stopRequested(job)) honourStop(job);
    } while (transfer.stillExecuting());
}

void stopAfterInterruption(JobContext& job) {
    job.services.eventLoop.yieldOnce();
    if (stopRequested(job)) honourStop(job);
}

bool holdsErrorMarker(std::string_view headerBlock) {
    return headerBlock.find("500 Internal Server Error") != std::string_view::npos ||
           headerBlock.find("Unable to complete request") != std::string_view::npos;
}

bool appendToFailureLog(const std::filesystem::path& folder, std::string_view url) {
    if (url.empty()) return false;
    const UniqueFd file = openForAppend(folder / "failed.txt");
    if (!file.valid()) return false;
    // One write per line, so that the line is never split by another writer.
    std::string line;
    for (const char c : url) {
        if (c == '\r') {
            line += "%0D";
        } else if (c == '\n') {
            line += "%0A";
        } else {
            line += c;
        }
    }
    line += "\r\n";
    return writeAll(file.get(), line);
}

void logFailedAddress(JobContext& job, std::string_view url) {
    if (job.dryRun != nullptr) return;  // a dry run writes nothing
    appendToFailureLog(job.program.workFolder, url);
    ++job.failuresLogged;
}

void fetchFile(JobContext& job, const DownloadTarget& target) {
    // A dry run reports what would be downloaded, and downloads nothing.
    if (job.dryRun != nullptr) return job.dryRun->handOver(target);

    StatusWindow& status = job.services.status;
    TransferControl& transfer = job.services.transfer;
    status.showFinishedCount(job.finishedCount);

    std::string fileName = safeFileName(target.name);
    // Two different files of one name in one job: the second gets " (2)" and so on. The same
    // address again is saved under the name it had.
    if (!fileName.empty()) {
        fileName = unusedName(fileName, [&](const std::string& name) {
            const auto saved = job.savedNames.find(name);
            return saved != job.savedNames.end() && saved->second != target.url;
        });
    }
    std::string displayName;
    assignField(displayName, [&] { return lastField(fileName, "\\"); });

    if (!isWebAddress(target.url)) {
        // Nothing can come of asking: said once, and the thumbnail is what goes to the log.
        status.appendLog("Downloading file " + displayName +
                         "...FAILED (not a web address)\r\nFAILURE LOGGED.\r\n");
        logFailedAddress(job, job.entry.empty() ? target.url : job.entry);
        return;
    }

    const std::filesystem::path targetPath = job.program.settings.savePath + "/" + fileName;
    struct stat info {};
    const bool nameWasFree =
        !fileName.empty() && ::lstat(targetPath.c_str(), &info) != 0 && errno == ENOENT;
    std::string piece;
    const Attempt attempt{job, target.url, fileName, targetPath, nameWasFree, piece};

    for (int retryCount = 0;;) {
        status.appendLog("Downloading file " + displayName + "...");
        const std::string reason = attemptDownload(attempt);
        if (reason.empty()) {
            if (job.finishedCount < kLargestCount) ++job.finishedCount;
            job.savedNames[fileName] = target.url;
            status.appendLog("OK\r\n");
            status.showFinishedCount(job.finishedCount);
            break;
        }
        status.appendLog("FAILED (" + reason + ")\r\n");
        status.appendLog(retryCount < kAttempts - 1 ? "RESTART DOWNLOAD.\r\n"
                                                    : "FAILURE LOGGED.\r\n");
        transfer.cancel();
        ++retryCount;
        piece.clear();
        // The next attempt must be answered by the server, not by a cached copy.
        job.services.urlCache.deleteEntry(target.url);
        if (retryCount >= kAttempts) {
            logFailedAddress(job, target.url);
            break;
        }
    }
    transfer.cancel();
}

}  // namespace velnoria
