#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "download/job_context.h"
#include "platform/event_loop.h"
#include "platform/transfer_pool.h"

namespace velnoria {

// Up to `limit` image downloads at once, at most two per host name, all on the pool, driven on
// the job's own thread whenever the job waits. Each file keeps its three attempts and writes its
// log lines whole when it ends; the status window's bar counts the job's files. The rules go on
// resolving while the files download.
class ParallelDownloads {
  public:
    static constexpr int kPerHost = 2;

    ParallelDownloads(JobContext& job, TransferPool& pool, int limit);
    ~ParallelDownloads();
    ParallelDownloads(const ParallelDownloads&) = delete;
    ParallelDownloads& operator=(const ParallelDownloads&) = delete;

    // Hands a file over; returns once it is queued, driving the downloads while the queue is
    // full. Throws JobStopped on a stop request.
    void add(const DownloadTarget& target, std::size_t tag = 0);
    // Returns once every file has ended. Throws JobStopped on a stop request.
    void finish();
    // One pass: waits up to maxBlock for the network, moves every download on, starts waiting
    // files. On a stop request every transfer is cancelled at once.
    void pump(std::chrono::milliseconds maxBlock);
    // The smallest tag of a file that has not ended, those cancelled by a stop among them;
    // SIZE_MAX when none.
    std::size_t lowestOpenTag() const;

  private:
    class File;

    void startWaiting();
    void fileEnded(File& file);
    void showProgress();
    void throwIfStopped();

    JobContext& job_;
    TransferPool& pool_;
    std::size_t limit_;
    std::list<std::unique_ptr<File>> files_;  // waiting and running, in the order handed over
    std::map<std::string, int> runningPerHost_;
    std::size_t running_ = 0;
    std::size_t handedOver_ = 0;
    std::size_t ended_ = 0;
    bool stopped_ = false;
    std::size_t cancelledTag_ = SIZE_MAX;  // the lowest tag a stop cancelled
};

// The job's waits drive the downloads: every yield of the job first moves them on. The status
// window's pause loop yields to the front end's own loop, so a pause holds every transfer.
class PumpingEventLoop : public EventLoop {
  public:
    explicit PumpingEventLoop(EventLoop& frontEnd) : frontEnd_(frontEnd) {}
    void attach(ParallelDownloads* downloads) { downloads_ = downloads; }
    void yieldOnce(std::chrono::milliseconds maxBlock) override;

  private:
    EventLoop& frontEnd_;
    ParallelDownloads* downloads_ = nullptr;
};

}  // namespace velnoria
