#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <memory>
#include <set>
#include <vector>

#include "download/file_download.h"
#include "download/job_context.h"

namespace velnoria {

// The job's downloads: the files the rules hand over, each through the per-file download on the
// job's transfers. With a limit of 1 a file is downloaded when it is handed over and its log
// lines show as they happen, exactly as one file at a time always went. With more, the rules go
// on while up to `limit` transfers run (the transfer slots hold the limit and the two per host);
// a file is named when it begins, in the order handed over, once every earlier file whose name
// could meet its own has ended; its log lines show whole when it ends, and the bar follows the
// whole job.
class DownloadQueue : public TargetSink {
  public:
    DownloadQueue(JobContext& job, std::size_t limit);
    ~DownloadQueue() override;
    DownloadQueue(const DownloadQueue&) = delete;
    DownloadQueue& operator=(const DownloadQueue&) = delete;

    void handOver(const DownloadTarget& target) override;
    // Returns once every file has ended. Throws JobStopped on a stop request.
    void finish();
    // A stop: every file ends at once, nothing more logged.
    void cancelAll();
    // What moves on with time: files pausing before their next attempt, the bar.
    void tick();
    // The smallest tag of a file that has not ended (those a stop cancelled among them);
    // SIZE_MAX when none.
    std::size_t lowestOpenTag() const;
    // The tags of the files a stop cancelled.
    const std::set<std::size_t>& cancelledTags() const { return cancelledTags_; }

  private:
    void beginWaiting();
    // With the archive: files whose bytes are whole go into place in the order handed over,
    // each once no earlier file can bring the same bytes (no other length, or it has ended).
    void settleInOrder();
    void fileEnded(FileDownload& file);
    void removeEnded();
    void showProgress();
    void clearTransfers();

    JobContext& job_;
    std::size_t limit_;
    std::list<std::unique_ptr<FileDownload>> files_;  // not yet removed, in the order handed over
    std::size_t handedOver_ = 0;
    std::size_t ended_ = 0;
    std::size_t cancelledTag_ = SIZE_MAX;
    std::set<std::size_t> cancelledTags_;
    std::chrono::steady_clock::time_point lastProgress_{};
    std::vector<TransferRow> shownRows_;  // the transfers the status window shows
    bool settling_ = false;
};

}  // namespace velnoria
