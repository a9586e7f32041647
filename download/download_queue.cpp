#include "download/download_queue.h"

#include <algorithm>
#include <set>
#include <string>

namespace velnoria {

namespace {

// Files handed over beyond those the transfers can run: enough to keep every transfer busy while
// the rules resolve the next ones, few enough that a stop loses little work.
constexpr std::size_t kWaitingPerSlot = 2;
// How often the bar follows the bytes of the job.
constexpr auto kProgressEvery = std::chrono::milliseconds(100);

}  // namespace

DownloadQueue::DownloadQueue(JobContext& job, std::size_t limit)
    : job_(job), limit_(std::max<std::size_t>(limit, 1)) {}

DownloadQueue::~DownloadQueue() {
    cancelAll();
}

void DownloadQueue::handOver(const DownloadTarget& target) {
    const LogMode mode = limit_ == 1 ? LogMode::Live : LogMode::Whole;
    if (mode == LogMode::Whole) {
        job_.waitUntil([&] {
            removeEnded();
            return files_.size() < limit_ * (1 + kWaitingPerSlot);
        });
    }
    // What goes to failed.txt for an address that is no web address: the thumbnail's.
    const std::string thumbnail = job_.entry.empty() ? target.url : job_.entry;
    auto& file = *files_.emplace_back(
        std::make_unique<FileDownload>(job_, target, thumbnail, job_.currentTag, mode));
    file.onEnded = [this](FileDownload& ended) { fileEnded(ended); };
    ++handedOver_;
    if (mode == LogMode::Live) {
        file.begin();
        job_.waitUntil([&] { return file.ended(); });
        removeEnded();
        return;
    }
    showProgress();
    beginWaiting();
}

void DownloadQueue::finish() {
    job_.waitUntil([&] {
        removeEnded();
        return files_.empty();
    });
    clearTransfers();
}

void DownloadQueue::clearTransfers() {
    if (shownRows_.empty()) return;
    shownRows_.clear();
    job_.services.status.showTransfers({});
}

void DownloadQueue::beginWaiting() {
    // Name families of earlier files that have not ended: a later file whose name could meet
    // theirs waits for them, so that its name, and what stays under it, are those of one at a
    // time.
    std::set<std::string> earlier;
    // With the archive, the same address again is "already saved" once the first has ended.
    std::set<std::string> earlierAddresses;
    const bool archive = job_.archive != nullptr;
    for (auto& file : files_) {
        if (file->ended()) continue;
        if (file->stage() == FileStage::Waiting && earlier.count(file->family()) == 0 &&
            (!archive || earlierAddresses.count(file->url()) == 0)) {
            file->begin();
        }
        if (file->ended()) continue;
        earlier.insert(file->family());
        if (archive) earlierAddresses.insert(file->url());
    }
}

void DownloadQueue::settleInOrder() {
    if (settling_) return;  // a file settled here ends, which comes back here
    settling_ = true;
    // The lengths the earlier files not ended may have; any, when one is not known yet.
    std::set<std::int64_t> lengths;
    bool anyLength = false;
    for (auto& file : files_) {
        if (file->ended()) continue;
        const bool whole = file->stage() == FileStage::Settling;
        const auto length = whole ? static_cast<std::int64_t>(file->bytes()) : file->expected();
        if (whole && !anyLength && lengths.count(length) == 0) {
            file->settle();
            if (file->ended()) continue;
        }
        if (length < 0) anyLength = true;
        lengths.insert(length);
    }
    settling_ = false;
}

void DownloadQueue::fileEnded(FileDownload& file) {
    ++ended_;
    if (file.outcome() == FileOutcome::Stopped) return;
    StatusWindow& status = job_.services.status;
    if (limit_ > 1) {
        status.appendLog(file.log());
        status.showFinishedCount(job_.counts.finished);
        showProgress();
        // The files that waited for this one's name may begin now, and those whose bytes are
        // whole may be settled.
        beginWaiting();
        settleInOrder();
    }
}

void DownloadQueue::removeEnded() {
    files_.remove_if([](const std::unique_ptr<FileDownload>& file) { return file->ended(); });
}

void DownloadQueue::tick() {
    const auto now = std::chrono::steady_clock::now();
    for (auto& file : files_) file->tick(now);
    if (job_.archive != nullptr && limit_ > 1) settleInOrder();
    if (limit_ > 1 && now - lastProgress_ >= kProgressEvery) showProgress();
}

void DownloadQueue::showProgress() {
    lastProgress_ = std::chrono::steady_clock::now();
    // Each running file counts with the share of its bytes that has arrived.
    double done = static_cast<double>(ended_);
    for (const auto& file : files_) {
        if (file->ended() || file->expected() <= 0) continue;
        done += std::min(
            1.0, static_cast<double>(file->bytes()) / static_cast<double>(file->expected()));
    }
    StatusWindow& status = job_.services.status;
    status.setProgressMinimum(0);
    status.setProgressMaximum(static_cast<double>(handedOver_));
    status.setProgressValue(done);
    // Each file on the wire, with its bytes so far: the log says nothing of a file until it
    // ends. A file waiting for room among the transfers is not shown yet.
    std::vector<TransferRow> rows;
    for (const auto& file : files_) {
        const FileStage stage = file->stage();
        if (stage != FileStage::Requesting && stage != FileStage::Receiving) continue;
        if (!file->onTheWire()) continue;
        rows.push_back({file->displayName(), file->bytes(), file->expected()});
    }
    if (rows != shownRows_) {
        status.showTransfers(rows);
        shownRows_ = std::move(rows);
    }
}

void DownloadQueue::cancelAll() {
    // The cancelled files did not end: their addresses are not settled.
    cancelledTag_ = lowestOpenTag();
    for (auto& file : files_) {
        if (!file->ended()) cancelledTags_.insert(file->tag());
        file->cancel();
    }
    files_.clear();
    clearTransfers();
}

std::size_t DownloadQueue::lowestOpenTag() const {
    std::size_t lowest = cancelledTag_;
    for (const auto& file : files_) {
        if (!file->ended()) lowest = std::min(lowest, file->tag());
    }
    return lowest;
}

}  // namespace velnoria
