#include "download/parallel_downloads.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>

#include "core/text.h"
#include "core/unique_fd.h"
#include "download/fetch_file.h"
#include "download/next_pages.h"
#include "download/rule_text.h"
#include "download/safe_file_name.h"

namespace velnoria {

namespace {

constexpr int kAttempts = 3;
constexpr int kLargestCount = 32767;  // the finished count is a 16-bit number
constexpr std::uint64_t kLargestUnannouncedBody = 2147483647;
// Files handed over beyond those running: enough to keep every slot busy while the rules resolve
// the next ones, few enough that a stop loses little work.
constexpr std::size_t kWaitingPerSlot = 2;

}  // namespace

// One file: its attempts one after the other, each a transfer of the pool; its log text is
// gathered and shown whole when the file ends.
class ParallelDownloads::File : public TransferListener {
  public:
    File(ParallelDownloads& owner, const DownloadTarget& target, std::size_t tag)
        : owner_(owner), url_(target.url), fileName_(safeFileName(target.name)), tag_(tag) {
        assignField(displayName_, [&] { return lastField(fileName_, "\\"); });
        path_ = owner.job_.program.settings.savePath + "/" + fileName_;
        host_ = webHostName(url_);
    }

    const std::string& host() const { return host_; }
    const std::string& path() const { return path_; }
    std::size_t tag() const { return tag_; }
    bool running() const { return running_; }
    bool ended() const { return ended_; }
    // The file's log lines, whole once it has ended.
    const std::string& log() const { return log_; }

    void start() {
        running_ = true;
        // A file of that name may already be whole: its length is asked for first.
        const bool check = owner_.job_.program.choices.skipExisting && !checked_ &&
                           !fileName_.empty() && regularFileSize(path_) >= 0;
        beginAttempt(check);
    }

    void cancel() {
        if (running_) owner_.pool_.cancel(transfer_);
        file_.reset();
        running_ = false;
        ended_ = true;
    }

    bool onHeaders(const std::string& headerBlock) override {
        const auto length = readContentLength(headerValue(headerBlock, "Content-Length"));
        const int status = statusCode(headerBlock);
        if (checking_) {
            alreadySaved_ = length && status < 400 && regularFileSize(path_) == *length;
            return true;  // a HEAD answer has no body: the connection stays usable
        }
        if (holdsErrorMarker(headerBlock) || status >= 400) failed_ = true;
        if (!length) {
            unannounced_ = true;
            log_ += "\r\nWarning! Unknown file size, trying alternative method for download...";
            return true;
        }
        expected_ = *length;
        // Emptied on open: an older, longer file of the same name must not keep its tail.
        if (!fileName_.empty()) file_ = openForWriting(path_);
        if (!file_.valid()) {
            failed_ = true;
            return false;
        }
        return true;
    }

    bool onBody(const char* data, std::size_t size) override {
        if (checking_) return false;
        if (unannounced_) {
            if (received_ + size > kLargestUnannouncedBody || !openLate()) {
                failed_ = true;
                return false;
            }
        }
        received_ += size;
        if (!file_.valid() || !writeAll(file_.get(), std::string_view(data, size))) {
            failed_ = true;
            return false;
        }
        return true;
    }

    void onEnd(int failureCode) override {
        if (checking_) {
            checking_ = false;
            checked_ = true;
            if (alreadySaved_) {
                log_ += "Downloading file " + displayName_ + "...ALREADY SAVED\r\n";
                ++owner_.job_.alreadySaved;
                end();
                return;
            }
            beginAttempt(false);
            return;
        }
        if (failureCode != 0) failed_ = true;
        if (unannounced_ && !failed_ && !openLate()) failed_ = true;  // an empty body
        if (!unannounced_ && (!file_.valid() || fileLength(file_.get()) != expected_)) {
            failed_ = true;
        }
        file_.reset();

        JobContext& job = owner_.job_;
        if (!failed_) {
            if (job.finishedCount < kLargestCount) ++job.finishedCount;
            log_ += "OK\r\n";
            end();
            return;
        }
        log_ += "FAILED\r\n";
        log_ += attempt_ < kAttempts - 1 ? "RESTART DOWNLOAD.\r\n" : "FAILURE LOGGED.\r\n";
        ++attempt_;
        // The next attempt must be answered by the server, not by a cached copy.
        job.services.urlCache.deleteEntry(url_);
        if (attempt_ < kAttempts) {
            beginAttempt(false);
            return;
        }
        appendToFailureLog(job.program.workFolder, url_);
        ++job.failuresLogged;
        end();
    }

  private:
    static long long regularFileSize(const std::string& path) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
        return static_cast<long long>(info.st_size);
    }

    void beginAttempt(bool check) {
        checking_ = check;
        failed_ = false;
        unannounced_ = false;
        expected_ = -1;
        received_ = 0;
        file_.reset();
        if (!check) log_ += "Downloading file " + displayName_ + "...";
        transfer_ = owner_.pool_.start(
            url_, *this, check ? TransferPool::Method::Head : TransferPool::Method::Get);
    }

    // The file of an answer without a length is opened at its first byte, so a request that
    // never answers leaves an existing file of that name as it was.
    bool openLate() {
        if (file_.valid()) return true;
        if (fileName_.empty()) return false;
        file_ = openForWriting(path_);
        return file_.valid();
    }

    void end() {
        running_ = false;
        ended_ = true;
        owner_.fileEnded(*this);
    }

    ParallelDownloads& owner_;
    std::string url_;
    std::string fileName_;  // made safe; "" means nothing may be written
    std::string displayName_;
    std::string path_;
    std::string host_;
    std::size_t tag_;
    TransferPool::Id transfer_ = 0;
    int attempt_ = 0;
    bool running_ = false;
    bool ended_ = false;
    bool checking_ = false;  // asking for the length of a file that may be saved already
    bool checked_ = false;
    bool alreadySaved_ = false;
    bool failed_ = false;
    bool unannounced_ = false;
    std::int64_t expected_ = -1;
    std::uint64_t received_ = 0;
    UniqueFd file_;
    std::string log_;
};

ParallelDownloads::ParallelDownloads(JobContext& job, TransferPool& pool, int limit)
    : job_(job), pool_(pool), limit_(static_cast<std::size_t>(std::max(limit, 1))) {
    pool_.setTimeoutSeconds(job.program.settings.timeoutSeconds);
}

ParallelDownloads::~ParallelDownloads() {
    for (auto& file : files_) file->cancel();
}

void ParallelDownloads::add(const DownloadTarget& target, std::size_t tag) {
    throwIfStopped();
    while (files_.size() >= limit_ * (1 + kWaitingPerSlot)) {
        pump(std::chrono::milliseconds(10));
        job_.services.eventLoop.yieldOnce();
        throwIfStopped();
    }
    files_.push_back(std::make_unique<File>(*this, target, tag));
    ++handedOver_;
    showProgress();
    startWaiting();
}

void ParallelDownloads::finish() {
    throwIfStopped();
    while (!files_.empty()) {
        pump(std::chrono::milliseconds(10));
        job_.services.eventLoop.yieldOnce();
        throwIfStopped();
    }
}

void ParallelDownloads::pump(std::chrono::milliseconds maxBlock) {
    if (stopped_) return;
    if (job_.program.runState == kStopRequested) {
        // Stop/Abort ends every transfer at once; the job ends at its next check.
        stopped_ = true;
        // The cancelled files did not end: their addresses are not done.
        cancelledTag_ = lowestOpenTag();
        for (auto& file : files_) file->cancel();
        files_.clear();
        running_ = 0;
        runningPerHost_.clear();
        return;
    }
    pool_.drive(maxBlock);
    files_.remove_if([](const std::unique_ptr<File>& file) { return file->ended(); });
    startWaiting();
}

std::size_t ParallelDownloads::lowestOpenTag() const {
    std::size_t lowest = cancelledTag_;
    for (const auto& file : files_) {
        if (!file->ended()) lowest = std::min(lowest, file->tag());
    }
    return lowest;
}

void ParallelDownloads::startWaiting() {
    // Paths of files handed over earlier that have not ended: a later file of the same name
    // waits for them, so that, as one at a time, the later one is what stays.
    std::set<std::string> earlier;
    for (auto& file : files_) {
        if (file->ended()) continue;
        const bool mayStart = !file->running() && running_ < limit_ &&
                              runningPerHost_[file->host()] < kPerHost &&
                              earlier.count(file->path()) == 0;
        if (mayStart) {
            ++runningPerHost_[file->host()];
            ++running_;
            file->start();
        }
        if (!file->ended()) earlier.insert(file->path());
    }
}

void ParallelDownloads::fileEnded(File& file) {
    --running_;
    if (--runningPerHost_[file.host()] <= 0) runningPerHost_.erase(file.host());
    ++ended_;
    StatusWindow& status = job_.services.status;
    status.appendLog(file.log());
    status.showFinishedCount(job_.finishedCount);
    showProgress();
}

void ParallelDownloads::showProgress() {
    StatusWindow& status = job_.services.status;
    status.setProgressMinimum(0);
    status.setProgressMaximum(static_cast<double>(handedOver_));
    status.setProgressValue(static_cast<double>(ended_));
}

void ParallelDownloads::throwIfStopped() {
    if (!stopped_ && job_.program.runState != kStopRequested) return;
    if (!stopped_) pump(std::chrono::milliseconds(0));
    job_.program.runState = kRunning;
    throw JobStopped{};
}

void PumpingEventLoop::yieldOnce(std::chrono::milliseconds maxBlock) {
    if (downloads_ == nullptr) {
        frontEnd_.yieldOnce(maxBlock);
        return;
    }
    // The wait for the network is the wait of this pass.
    downloads_->pump(maxBlock);
    frontEnd_.yieldOnce();
}

}  // namespace velnoria
