#include "download/rule_runner.h"

#include "core/printable.h"
#include "core/web_address.h"
#include "download/dry_run.h"
#include "download/failed_list.h"
#include "download/fetch_file.h"
#include "download/rules/page_search.h"
#include "download/safe_file_name.h"

namespace velnoria {

namespace {

const std::string kTooLong =
    "longer than " + std::to_string(CaptureTemplate::kMaxExpandedBytes) + " bytes";

std::string absolute(const JobContext& job, std::string_view base, const std::string& reference) {
    return job.resolveAddress ? job.resolveAddress(base, reference) : reference;
}

// The rule cannot go on: the reason in the log, the thumbnail in "failed.txt".
void refuse(JobContext& job, const std::string& thumbnail, const std::string& reason) {
    if (job.dryRun != nullptr) return job.dryRun->decline(reason);
    job.services.status.appendLog(reason + "\r\n");
    if (appendToFailureLog(job.program.workFolder, thumbnail)) ++job.failuresLogged;
}

// Nothing for this image, as a built-in rule declines: silently, except in a dry run.
void decline(JobContext& job, const std::string& reason) {
    if (job.dryRun != nullptr) job.dryRun->decline(reason);
}

}  // namespace

std::string loggable(std::string_view text, std::size_t limit) {
    return printableText(text, limit);
}

void runFileRule(JobContext& job, const RuleSet::Taken& taken, const std::string& image) {
    const FileRule& rule = *taken.rule;
    // An image without an address taken by its link is logged by the link.
    const std::string& thumbnail = image.empty() ? taken.subject : image;
    const std::string called = "Rule \"" + rule.name + "\"";

    std::optional<Captures> found;
    std::string url;
    if (rule.isPageSearch()) {
        const auto page = rule.page.expand(taken.captures);
        if (!page) return refuse(job, thumbnail, called + ": the page address is " + kTooLong);
        const std::string pageUrl = absolute(job, taken.subject, *page);
        if (!isWebAddress(pageUrl)) {
            return refuse(job, thumbnail,
                          called + ": the page address is not http(s): " + loggable(pageUrl));
        }
        PageSearch search = searchPage(job.services.urlDownload, pageUrl, *rule.find);
        if (!search.read) {
            return refuse(job, thumbnail,
                          "Service page cannot be read: " + loggable(pageUrl) + " (" +
                              loggable(search.error) + ")");
        }
        if (!search.found) {
            return decline(job, called + ": `find` matched nothing on " + loggable(search.address));
        }
        if (search.found->cut) {
            return refuse(job, thumbnail,
                          called + ": what `find` captured on " + loggable(search.address) +
                              " is longer than " + std::to_string(kMaxFoundBytes) + " bytes");
        }
        const auto full = rule.fullAddress(taken.captures, &*search.found);
        if (!full) return refuse(job, thumbnail, called + ": the full-size address is " + kTooLong);
        url = absolute(job, search.address, *full);
        found = std::move(search.found);
    } else {
        const auto full = rule.full.expand(taken.captures);
        if (!full) return refuse(job, thumbnail, called + ": the full-size address is " + kTooLong);
        url = absolute(job, taken.subject, *full);
    }
    // javascript:, data:, file: and the like are never requested.
    if (!isWebAddress(url)) {
        return refuse(job, thumbnail, called + ": not an http(s) address: " + loggable(url));
    }

    DownloadTarget target{url, lastPathPart(url)};
    if (rule.fileName) {
        const auto written = rule.fileName->expand(taken.captures, found ? &*found : nullptr);
        const std::string safe = written ? safeFileName(*written) : std::string();
        if (!safe.empty()) {
            if (safe != *written) {
                job.services.status.appendLog(called + ": the file name \"" + loggable(*written) +
                                              "\" is not safe as it stands; saved as \"" +
                                              loggable(safe) + "\"\r\n");
            }
            target.name = safe;
        } else {
            job.services.status.appendLog(
                called + ": the file name \"" + loggable(written.value_or(kTooLong)) +
                "\" cannot be used; saved as \"" + loggable(target.name) + "\"\r\n");
        }
    }
    fetchFile(job, target);
}

void fetchLinkedImage(JobContext& job, const std::string& link) {
    fetchFile(job, {link, lastPathPart(link)});
}

}  // namespace velnoria
