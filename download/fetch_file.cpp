#include "download/fetch_file.h"

#include <string>

#include "core/unique_fd.h"

namespace velnoria {

void fetchFile(JobContext& job, DownloadTarget target) {
    if (target.referringPage.empty()) {
        target.referringPage = job.page.foundAt.empty() ? job.page.address : job.page.foundAt;
    }
    ++job.counts.handedOver;
    job.targets->handOver(target);
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
