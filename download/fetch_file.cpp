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
#include "download/failed_list.h"
#include "download/file_download.h"
#include "download/parallel_downloads.h"
#include "download/rules/rule_text.h"
#include "download/safe_file_name.h"

namespace velnoria {

namespace {

bool stopRequested(const JobContext& job) {
    return job.program.runState == kStopRequested;
}

// Leaves the file in hand and the job: the request is cancelled and the walk abandoned.
[[noreturn]] void honourStop(JobContext& job) {
    job.services.transfer.cancel();
    job.program.runState = kRunning;
    throw JobStopped{};
}

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
    if (reason.empty()) reason = lengthProblem(file.length(), expectedSize);
    if (reason.empty() && sniffer.isHtml()) reason = kHtmlAnswer;
    return reason;
}

// One attempt from the request to the saved file; "" when it succeeded, else the reason.
std::string attemptDownload(const Attempt& attempt) {
    JobContext& job = attempt.job;
    TransferControl& transfer = job.services.transfer;
    StatusWindow& status = job.services.status;

    if (std::string problem = targetProblem(attempt.fileName, attempt.target); !problem.empty()) {
        return problem;
    }
    transfer.start(attempt.url, TransferControl::Method::Get);
    waitForAnswer(job);
    if (transfer.failureCode() != 0) return transfer.failureReason();

    std::string reason = answerProblem(transfer.headerBlock());
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
    waitForAnswer(job);
    const auto length = readContentLength(transfer.header("Content-Length"));
    const bool same = transfer.failureCode() == 0 && statusCode(transfer.headerBlock()) < 400 &&
                      length && *length == info.st_size;
    transfer.cancel();
    return same;
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

void logFailedAddress(JobContext& job, std::string_view url) {
    if (job.dryRun != nullptr) return;  // a dry run writes nothing
    appendToFailureLog(job.program.workFolder, url);
    ++job.failuresLogged;
}

void fetchFile(JobContext& job, const DownloadTarget& target) {
    // A dry run reports what would be downloaded, and downloads nothing.
    if (job.dryRun != nullptr) return job.dryRun->handOver(target);

    ++job.filesHanded;
    if (job.parallel != nullptr) {
        // Named when it starts, once the files of its name handed over before it have ended.
        job.parallel->add(target, job.currentTag);
        return;
    }
    StatusWindow& status = job.services.status;
    TransferControl& transfer = job.services.transfer;
    status.showFinishedCount(job.finishedCount);

    const std::string fileName = jobFileName(job, target);
    const std::string displayName = displayedName(fileName);
    if (!isWebAddress(target.url)) {
        // The thumbnail is what goes to the log.
        status.appendLog(notWebAddressText(displayName));
        logFailedAddress(job, job.entry.empty() ? target.url : job.entry);
        return;
    }

    const std::filesystem::path targetPath = job.program.settings.savePath + "/" + fileName;
    const bool nameWasFree = !fileName.empty() && nameIsFree(targetPath);
    std::string piece;
    const Attempt attempt{job, target.url, fileName, targetPath, nameWasFree, piece};

    if (job.program.choices.skipExisting && alreadySaved(attempt)) {
        status.appendLog("Downloading file " + displayName + "...ALREADY SAVED\r\n");
        ++job.alreadySaved;
        return;
    }

    for (int retryCount = 0;;) {
        status.appendLog("Downloading file " + displayName + "...");
        const std::string reason = attemptDownload(attempt);
        status.appendLog(attemptEndText(reason, retryCount));
        if (reason.empty()) {
            noteSaved(job, fileName, target.url);
            status.showFinishedCount(job.finishedCount);
            break;
        }
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
