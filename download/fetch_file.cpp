#include "download/fetch_file.h"

#include <algorithm>

#include "core/web_address.h"
#include "download/failed_list.h"
#include "download/name_templates.h"

namespace velnoria {

namespace {

// The folder and name the user's templates make of what the rule gave; a name template that
// leaves nothing usable keeps the rule's name.
void applyTemplates(const JobContext& job, DownloadTarget& target) {
    if (job.folderTemplate == nullptr && job.nameTemplate == nullptr) return;
    NameFields fields;
    fields.title = job.threadTitle;
    fields.host = webHostName(job.threadAddress.empty() ? job.page.address : job.threadAddress);
    fields.page = job.page.number;
    fields.index = std::max(job.entryIndex, 1);
    fields.ruleName = target.name;
    fields.date = job.date;
    if (job.folderTemplate != nullptr) target.folder = job.folderTemplate->expand(fields);
    if (job.nameTemplate != nullptr) {
        std::string name = job.nameTemplate->expand(fields);
        if (!name.empty()) target.name = std::move(name);
    }
}

}  // namespace

void fetchFile(JobContext& job, DownloadTarget target) {
    if (!target.ownReferer) {
        if (target.referringPage.empty()) {
            target.referringPage = job.page.foundAt.empty() ? job.page.address : job.page.foundAt;
        }
        target.referringPage = referringPageFor(job.program.session, target.referringPage);
    }
    applyTemplates(job, target);
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
