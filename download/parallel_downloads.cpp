#include "download/parallel_downloads.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>

#include "core/text.h"
#include "download/fetch_file.h"
#include "download/file_download.h"
#include "download/next_pages.h"
#include "download/rules/rule_text.h"
#include "download/safe_file_name.h"

namespace velnoria {

namespace {

// Files handed over beyond those running: enough to keep every slot busy while the rules resolve
// the next ones, few enough that a stop loses little work.
constexpr std::size_t kWaitingPerSlot = 2;

long long regularFileSize(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<long long>(info.st_size);
}

}  // namespace

// One file: its attempts one after the other, each a transfer of the pool; its log text is
// gathered and shown whole when the file ends. Judged, named and put in place as one at a time
// (file_download.h).
class ParallelDownloads::File : public PoolListener {
  public:
    File(ParallelDownloads& owner, const DownloadTarget& target, std::size_t tag)
        : owner_(owner),
          target_(target),
          family_(nameFamily(safeFileName(target.name))),
          // What goes to failed.txt for an address that is no web address: the thumbnail's.
          thumbnail_(owner.job_.entry.empty() ? target.url : owner.job_.entry),
          tag_(tag) {
        host_ = webHostName(target_.url);
    }

    const std::string& host() const { return host_; }
    const std::string& family() const { return family_; }
    std::size_t tag() const { return tag_; }
    bool running() const { return running_; }
    bool ended() const { return ended_; }
    // The file's log lines, whole once it has ended.
    const std::string& log() const { return log_; }

    // Every file handed over before it whose name could meet its own has ended, so the name is
    // chosen here as one at a time would.
    void start() {
        running_ = true;
        JobContext& job = owner_.job_;
        fileName_ = jobFileName(job, target_);
        displayName_ = displayedName(fileName_);
        if (!isWebAddress(target_.url)) {
            log_ += notWebAddressText(displayName_);
            logFailedAddress(job, thumbnail_);
            end();
            return;
        }
        path_ = job.program.settings.savePath + "/" + fileName_;
        nameWasFree_ = !fileName_.empty() && nameIsFree(path_);
        // A file of that name may already be whole: its length is asked for first.
        const bool check =
            job.program.choices.skipExisting && !fileName_.empty() && regularFileSize(path_) >= 0;
        beginAttempt(check);
    }

    // A stop: what the transfer wrote is treated as after a stop of one at a time.
    void cancel() {
        if (running_ && transfer_ != 0) owner_.pool_.cancel(transfer_);
        if (file_) file_->abandon(nameWasFree_);
        file_.reset();
        running_ = false;
        ended_ = true;
    }

    bool onHeaders(const std::string& headerBlock) override {
        const auto length = readContentLength(headerValue(headerBlock, "Content-Length"));
        if (checking_) {
            alreadySaved_ =
                length && statusCode(headerBlock) < 400 && regularFileSize(path_) == *length;
            return true;  // a HEAD answer has no body: the connection stays usable
        }
        answerReason_ = answerProblem(headerBlock);
        if (!length) {
            unannounced_ = true;
            log_ += "\r\nWarning! Unknown file size, trying alternative method for download...";
            return true;
        }
        expected_ = *length;
        if (!file_->open()) {
            bodyReason_ = cannotWrite(file_->error());
            return false;
        }
        return true;
    }

    bool onBody(const char* data, std::size_t size) override {
        if (checking_) return false;
        if (unannounced_ && received_ + size > kLargestUnannouncedBody) {
            bodyReason_ = "longer than " + std::to_string(kLargestUnannouncedBody) + " bytes";
            return false;
        }
        received_ += size;
        const std::string_view bytes(data, size);
        sniffer_.feed(bytes);
        if (!file_->write(bytes)) {
            bodyReason_ = cannotWrite(file_->error());
            return false;
        }
        return true;
    }

    void onEnd(int failureCode, const std::string& failureReason) override {
        transfer_ = 0;
        if (checking_) {
            checking_ = false;
            if (alreadySaved_ && failureCode == 0) {
                log_ += "Downloading file " + displayName_ + "...ALREADY SAVED\r\n";
                ++owner_.job_.alreadySaved;
                end();
                return;
            }
            beginAttempt(false);
            return;
        }
        if (bodyReason_.empty() && failureCode != 0) bodyReason_ = failureReason;
        if (bodyReason_.empty()) {
            if (unannounced_) {
                // An empty body still makes the file.
                if (!file_->open()) bodyReason_ = cannotWrite(file_->error());
            } else {
                bodyReason_ = lengthProblem(file_->length(), expected_);
            }
        }
        if (bodyReason_.empty() && sniffer_.isHtml()) bodyReason_ = kHtmlAnswer;
        attemptEnded(answerReason_.empty() ? bodyReason_ : answerReason_);
    }

  private:
    void beginAttempt(bool check) {
        checking_ = check;
        answerReason_.clear();
        bodyReason_.clear();
        unannounced_ = false;
        expected_ = -1;
        received_ = 0;
        sniffer_ = HtmlStartSniffer{};
        file_.emplace(path_);
        if (check) {
            transfer_ = owner_.pool_.start(target_.url, *this, TransferPool::Method::Head);
            return;
        }
        log_ += "Downloading file " + displayName_ + "...";
        if (std::string problem = targetProblem(fileName_, path_); !problem.empty()) {
            attemptEnded(problem);  // nothing is asked for
            return;
        }
        transfer_ = owner_.pool_.start(target_.url, *this, TransferPool::Method::Get);
    }

    void attemptEnded(const std::string& reason) {
        JobContext& job = owner_.job_;
        std::string why = reason;
        if (why.empty() && !file_->keep()) why = cannotWrite(file_->error());
        log_ += attemptEndText(why, attempt_);
        if (why.empty()) {
            file_.reset();
            noteSaved(job, fileName_, target_.url);
            end();
            return;
        }
        file_->abandon(nameWasFree_);
        file_.reset();
        ++attempt_;
        // The next attempt must be answered by the server, not by a cached copy.
        job.services.urlCache.deleteEntry(target_.url);
        if (attempt_ < kAttempts) {
            beginAttempt(false);
            return;
        }
        logFailedAddress(job, target_.url);
        end();
    }

    void end() {
        running_ = false;
        ended_ = true;
        owner_.fileEnded(*this);
    }

    ParallelDownloads& owner_;
    DownloadTarget target_;
    std::string family_;
    std::string thumbnail_;
    std::string fileName_;  // chosen at the start; "" means nothing may be written
    std::string displayName_;
    std::filesystem::path path_;
    std::string host_;
    std::size_t tag_;
    TransferPool::Id transfer_ = 0;
    int attempt_ = 0;
    bool running_ = false;
    bool ended_ = false;
    bool nameWasFree_ = false;
    bool checking_ = false;  // asking for the length of a file that may be saved already
    bool alreadySaved_ = false;
    bool unannounced_ = false;
    std::string answerReason_;  // what the headers say against the answer
    std::string bodyReason_;    // what went wrong with the body
    std::int64_t expected_ = -1;
    std::uint64_t received_ = 0;
    HtmlStartSniffer sniffer_;
    std::optional<AttemptFile> file_;
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
    // Name families of files handed over earlier that have not ended: a later file whose name
    // could meet theirs waits for them, so that its name, and what stays under it, are those of
    // one at a time.
    std::set<std::string> earlier;
    for (auto& file : files_) {
        if (file->ended()) continue;
        const bool mayStart = !file->running() && running_ < limit_ &&
                              runningPerHost_[file->host()] < kPerHost &&
                              earlier.count(file->family()) == 0;
        if (mayStart) {
            ++runningPerHost_[file->host()];
            ++running_;
            file->start();
        }
        if (!file->ended()) earlier.insert(file->family());
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
