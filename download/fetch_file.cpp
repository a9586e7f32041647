#include "download/fetch_file.h"

#include <string>

#include "core/unique_fd.h"
#include "download/failed_list.h"

namespace velnoria {

void fetchFile(JobContext& job, DownloadTarget target) {
    if (!target.ownReferer) {
        if (target.referringPage.empty()) {
            target.referringPage = job.page.foundAt.empty() ? job.page.address : job.page.foundAt;
        }
        target.referringPage = referringPageFor(job.program.session, target.referringPage);
    }
    ++job.counts.handedOver;
    job.targets->handOver(target);
}

void logFailedAddress(JobContext& job, std::string_view url) {
    logFailedAddress(job, url, job.currentTag);
}

void logFailedAddress(JobContext& job, std::string_view url, std::size_t tag) {
    if (job.dryRun != nullptr) return;  // a dry run writes nothing
    // Counted also when failed.txt cannot take it: the job did not do all it was asked.
    appendToFailureLog(job.program.workFolder, url);
    ++job.counts.failuresLogged;
    job.loggedFailures.emplace_back(tag, std::string(url));
}

}  // namespace velnoria
