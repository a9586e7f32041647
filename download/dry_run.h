#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "download/job_context.h"

namespace velnoria {

// One line of a dry run: an image, and what its rule made of it.
struct TargetReport {
    std::string thumbnail;
    std::string url;       // the full-size address, when the rule handed one over ...
    std::string name;      // ... and the name it would be saved under, made safe
    std::string declined;  // otherwise: why nothing would be downloaded
};

using TargetReporter = std::function<void(const TargetReport&)>;

// The dry run: the walk as in a job, service pages read, but every target the rules hand over is
// reported instead of downloaded, and an image that yields none is reported with the reason.
class DryRun : public TargetSink {
  public:
    explicit DryRun(TargetReporter report) : report_(std::move(report)) {}

    void beginImage(const std::string& thumbnail);
    // In the place of the per-file download: the target, or why it could not be downloaded.
    void handOver(const DownloadTarget& target) override;
    // Why the rule at work hands over nothing (the last reason counts).
    void decline(std::string reason) { reason_ = std::move(reason); }
    // Ends the image; when it yielded no line, reports the rule's reason, else `otherwise`.
    void endImage(std::string_view otherwise);

  private:
    TargetReporter report_;
    std::string thumbnail_;
    std::string reason_;
    bool reported_ = false;
};

}  // namespace velnoria
