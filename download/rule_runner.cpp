#include "download/rule_runner.h"

#include "core/printable.h"
#include "download/dry_run.h"
#include "download/fetch_file.h"
#include "download/page_reads.h"
#include "download/page_scan.h"
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
    logFailedAddress(job, thumbnail);
}

// The address of the page a page-search rule reads; none (with why) when it cannot be made.
std::optional<std::string> rulePageAddress(const JobContext& job, const RuleSet::Taken& taken,
                                           std::string& why) {
    const FileRule& rule = *taken.rule;
    const auto page = rule.page.expand(taken.captures);
    if (!page) {
        why = "the page address is " + kTooLong;
        return std::nullopt;
    }
    std::string pageUrl = absolute(job, taken.subject, *page);
    if (!isHttpAddress(pageUrl)) {
        why = "the page address is not http(s): " + loggable(pageUrl);
        return std::nullopt;
    }
    return pageUrl;
}

// What the rule reads its page with: as a browser following the thumbnail's link would.
TransferRequest rulePageRequest(const JobContext& job, const std::string& pageUrl) {
    return servicePageRequest(job, pageUrl);
}

// The first hit of the rule's pattern on the page read, or why there is none to take.
struct RulePage {
    std::optional<Captures> found;
    std::string address;  // where the page was found, after redirects
    std::string refusal;  // the page could not be read or searched
};

RulePage searchRulePage(JobContext& job, const FileRule& rule, const std::string& pageUrl) {
    RulePage result;
    const PageRead page = job.pages->read(rulePageRequest(job, pageUrl));
    result.address = page.finalUrl.empty() ? pageUrl : page.finalUrl;
    std::string error = page.error;
    if (page.transferred && page.httpStatus >= 400)
        error = "HTTP " + std::to_string(page.httpStatus);
    if (error.empty()) result.found = searchPageFile(page.body.get(), *rule.find, error);
    if (!error.empty()) {
        result.refusal =
            "Service page cannot be read: " + loggable(pageUrl) + " (" + loggable(error) + ")";
    }
    return result;
}

// Nothing for this image, as a built-in rule declines: silently, except in a dry run (and a
// retry, which keeps the address with the reason).
void decline(JobContext& job, const std::string& reason) {
    job.declined = reason;
    if (job.dryRun != nullptr) job.dryRun->decline(reason);
}

}  // namespace

std::string loggable(std::string_view text, std::size_t limit) {
    std::string out = printableText(text.substr(0, limit));
    if (text.size() > limit) out += "...";
    return out;
}

void runFileRule(JobContext& job, const RuleSet::Taken& taken, const std::string& image) {
    const FileRule& rule = *taken.rule;
    // What goes to failed.txt when the rule cannot go on: the address the rule took, so that a
    // retry gives it to the rule again (a link rule's link, an image rule's image).
    const std::string& thumbnail =
        rule.subject == RuleSubject::Link || image.empty() ? taken.subject : image;
    const std::string called = "Rule \"" + rule.name + "\"";

    std::optional<Captures> found;
    std::string url;
    if (rule.isPageSearch()) {
        std::string why;
        const auto pageUrl = rulePageAddress(job, taken, why);
        if (!pageUrl) return refuse(job, thumbnail, called + ": " + why);
        RulePage search = searchRulePage(job, rule, *pageUrl);
        if (!search.refusal.empty()) return refuse(job, thumbnail, search.refusal);
        if (!search.found) {
            return decline(job, called + ": `find` matched nothing on " + loggable(search.address));
        }
        if (search.found->cut) {
            return refuse(job, thumbnail,
                          called + ": what `find` captured on " + loggable(search.address) +
                              " is longer than " + std::to_string(kMaxFoundBytes) + " bytes");
        }
        url = absolute(job, search.address, search.found->groups.at(1));
        found = std::move(search.found);
    } else {
        const auto full = rule.full.expand(taken.captures);
        if (!full) return refuse(job, thumbnail, called + ": the full-size address is " + kTooLong);
        url = absolute(job, taken.subject, *full);
    }
    // javascript:, data:, file: and the like are never requested.
    if (!isHttpAddress(url)) {
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

std::optional<PagePlan> planFileRule(const JobContext& job, const RuleSet::Taken& taken) {
    if (!taken.rule->isPageSearch()) return std::nullopt;
    std::string why;
    const auto pageUrl = rulePageAddress(job, taken, why);
    if (!pageUrl) return std::nullopt;
    return PagePlan{rulePageRequest(job, *pageUrl), {}};
}

void fetchLinkedImage(JobContext& job, const std::string& link) {
    fetchFile(job, {link, lastPathPart(link)});
}

}  // namespace velnoria
