#include "download/fetch_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/text.h"
#include "core/unique_fd.h"
#include "download/dry_run.h"
#include "download/parallel_downloads.h"
#include "download/rule_text.h"
#include "download/safe_file_name.h"

namespace velnoria {

namespace {

constexpr int kAttempts = 3;
constexpr int kLargestCount = 32767;  // the finished count is a 16-bit number
// An answer without a length is taken up to the largest length an answer may announce, so an
// endless body cannot fill the disk.
constexpr std::uint64_t kLargestUnannouncedBody = 2147483647;

struct Attempt {
    JobContext& job;
    const std::string& url;
    const std::string& fileName;  // already made safe; "" means nothing may be written
    std::filesystem::path target;
    std::string& piece;
};

// The whole body by the blocking download, for answers that announce no length. Judged by its
// outcome: a broken transfer, an HTTP error status or a file that cannot be written fail.
bool downloadWhole(const Attempt& attempt) {
    if (attempt.fileName.empty()) return false;
    UniqueFd file;
    bool openFailed = false;
    auto openTarget = [&] {
        file = openForWriting(attempt.target);
        openFailed = !file.valid();
        return file.valid();
    };
    // The file is opened at the first byte, so a request that never answers leaves an existing
    // file of that name as it was.
    const DownloadOutcome outcome = attempt.job.services.urlDownload.download(
        attempt.url,
        [&](const char* data, std::size_t size) {
            if (!file.valid() && !openTarget()) return false;
            return writeAll(file.get(), std::string_view(data, size));
        },
        kLargestUnannouncedBody);
    if (!outcome.transferred || !outcome.written || outcome.httpStatus >= 400) return false;
    if (!file.valid() && (openFailed || !openTarget())) return false;  // an empty body
    return true;
}

// The body in pieces of PieceSize bytes into the target, driving the progress bar. Returns
// false when the attempt failed. Throws JobStopped on a stop request.
bool readInPieces(const Attempt& attempt, std::int32_t expectedSize) {
    JobContext& job = attempt.job;
    TransferControl& transfer = job.services.transfer;
    StatusWindow& status = job.services.status;
    const std::int64_t pieceSize = std::max<std::int32_t>(1, job.program.settings.pieceSize);
    bool ok = true;

    status.setProgressMaximum(expectedSize);
    std::int64_t remaining = expectedSize;
    // Emptied on open: an older, longer file of the same name must not keep its tail.
    UniqueFd file;
    if (!attempt.fileName.empty()) file = openForWriting(attempt.target);
    if (!file.valid()) ok = false;

    while (transfer.failureCode() <= 0 && remaining != 0) {
        status.setProgressValue(static_cast<double>(expectedSize - remaining));
        if (job.program.runState == kStopRequested) {
            file.reset();
            transfer.cancel();
            attempt.piece.clear();
            job.program.runState = kRunning;
            throw JobStopped{};
        }
        // Remaining goes down by the count asked for, whatever arrives.
        if (remaining > pieceSize) {
            transfer.readPiece(static_cast<std::size_t>(pieceSize), attempt.piece);
            remaining -= pieceSize;
        } else {
            transfer.readPiece(static_cast<std::size_t>(remaining), attempt.piece);
            remaining = 0;
        }
        if (transfer.failureCode() > 0) {
            ok = false;
        } else if (file.valid() && !writeAll(file.get(), attempt.piece)) {
            ok = false;
        }
    }
    status.setProgressValue(expectedSize);
    if (!file.valid() || fileLength(file.get()) != expectedSize) ok = false;
    return ok;
}

// One attempt from the request to the written file; true when it succeeded.
bool attemptDownload(const Attempt& attempt) {
    JobContext& job = attempt.job;
    TransferControl& transfer = job.services.transfer;
    StatusWindow& status = job.services.status;

    transfer.start(attempt.url, TransferControl::Method::Get);
    do {
        job.services.eventLoop.yieldOnce();
    } while (transfer.stillExecuting());
    if (transfer.failureCode() != 0) return false;

    bool ok = true;
    // The body is still read and written after an error answer; only the verdict changes.
    const std::string headerBlock = transfer.headerBlock();
    if (holdsErrorMarker(headerBlock) || statusCode(headerBlock) >= 400) ok = false;

    const auto length = readContentLength(transfer.header("Content-Length"));
    if (!length) {
        status.appendLog(
            "\r\nWarning! Unknown file size, trying alternative method for download...");
        if (!downloadWhole(attempt)) ok = false;
    }
    status.setProgressMinimum(0);
    status.setProgressValue(0);
    if (length && !readInPieces(attempt, *length)) ok = false;
    return ok;
}

// With "skip existing": whether a regular file of the target's name is as long as the answer
// says the file is. Asked with HEAD, so no body is fetched; when it cannot tell, the file is
// fetched as ever.
bool alreadySaved(const Attempt& attempt) {
    if (attempt.fileName.empty()) return false;
    struct stat info {};
    if (::stat(attempt.target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    JobContext& job = attempt.job;
    TransferControl& transfer = job.services.transfer;
    transfer.start(attempt.url, TransferControl::Method::Head);
    do {
        job.services.eventLoop.yieldOnce();
    } while (transfer.stillExecuting());
    const auto length = readContentLength(transfer.header("Content-Length"));
    const bool same = transfer.failureCode() == 0 && statusCode(transfer.headerBlock()) < 400 &&
                      length && *length == info.st_size;
    transfer.cancel();
    return same;
}

}  // namespace

bool holdsErrorMarker(std::string_view headerBlock) {
    return headerBlock.find("500 Internal Server Error") != std::string_view::npos ||
           headerBlock.find("Unable to complete request") != std::string_view::npos;
}

bool appendToFailureLog(const std::filesystem::path& folder, std::string_view url) {
    const UniqueFd file = openForAppend(folder / "failed.txt");
    if (!file.valid()) return false;
    // One write per line, so that the line is never split by another writer.
    std::string line(url);
    line += "\r\n";
    return writeAll(file.get(), line);
}

void fetchFile(JobContext& job, const DownloadTarget& target) {
    // A dry run reports what would be downloaded, and downloads nothing.
    if (job.dryRun != nullptr) return job.dryRun->handOver(target);

    ++job.filesHanded;
    if (job.parallel != nullptr) {
        job.parallel->add(target, job.currentTag);
        return;
    }
    StatusWindow& status = job.services.status;
    TransferControl& transfer = job.services.transfer;
    status.showFinishedCount(job.finishedCount);

    const std::string fileName = safeFileName(target.name);
    std::string displayName;
    assignField(displayName, [&] { return lastField(fileName, "\\"); });
    std::string piece;
    const Attempt attempt{job, target.url, fileName, job.program.settings.savePath + "/" + fileName,
                          piece};

    if (job.program.choices.skipExisting && alreadySaved(attempt)) {
        status.appendLog("Downloading file " + displayName + "...ALREADY SAVED\r\n");
        ++job.alreadySaved;
        return;
    }

    for (int retryCount = 0;;) {
        status.appendLog("Downloading file " + displayName + "...");
        if (attemptDownload(attempt)) {
            if (job.finishedCount < kLargestCount) ++job.finishedCount;
            status.appendLog("OK\r\n");
            status.showFinishedCount(job.finishedCount);
            break;
        }
        status.appendLog("FAILED\r\n");
        status.appendLog(retryCount < kAttempts - 1 ? "RESTART DOWNLOAD.\r\n"
                                                    : "FAILURE LOGGED.\r\n");
        transfer.cancel();
        ++retryCount;
        piece.clear();
        // The next attempt must be answered by the server, not by a cached copy.
        job.services.urlCache.deleteEntry(target.url);
        if (retryCount >= kAttempts) {
            appendToFailureLog(job.program.workFolder, target.url);
            ++job.failuresLogged;
            break;
        }
    }
    transfer.cancel();
}

}  // namespace velnoria
