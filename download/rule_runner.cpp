#include "download/rule_runner.h"

#include "core/printable.h"
#include "core/web_address.h"
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

// The rule cannot go on: the reason in the log, the address it took in "failed.txt".
void refuse(JobContext& job, const std::string& thumbnail, const std::string& reason) {
    if (job.dryRun != nullptr) return job.dryRun->decline(reason);
    job.services.status.appendLog(reason + "\r\n");
    logFailedAddress(job, thumbnail);
}

// Nothing for this image, as a built-in rule declines: silently, except in a dry run (and a
// retry, which keeps the address with the reason).
void decline(JobContext& job, const std::string& reason) {
    job.declined = reason;
    if (job.dryRun != nullptr) job.dryRun->decline(reason);
}

// How the requests of a rule go out, from its keys and the captures of its pattern: the cookies
// for the host, the headers of its pages, its own Referer when it has one.
struct RuleSending {
    std::string pageUrl;  // "" for a rewrite
    std::optional<std::string> visitUrl;
    std::optional<std::string> form;
    std::string hostCookies;
    std::vector<std::string> pageHeaders;
    std::optional<std::string> referer;  // the rule's own: "" none, else exactly this

    // Sets the Referer of a request: the rule's own, or the page it comes from.
    void refer(TransferRequest& request, const std::string& from) const {
        if (!referer) {
            request.referringPage = from;
            return;
        }
        request.referringPage.clear();
        if (!referer->empty()) request.headers.push_back("Referer: " + *referer);
    }
};

// The sending of the rule that took the address; none (with why) when it cannot be made.
std::optional<RuleSending> ruleSending(const JobContext& job, const RuleSet::Taken& taken,
                                       std::string& why) {
    const FileRule& rule = *taken.rule;
    RuleSending sending;
    std::string problem;
    const std::optional<RuleRequest> request = rule.request(taken.captures, problem);
    if (!request) {
        why = problem;
        return std::nullopt;
    }
    sending.hostCookies = request->cookies;
    sending.form = request->form;
    sending.referer = request->referer;
    for (const auto& [name, value] : request->headers)
        sending.pageHeaders.push_back(name + ": " + value);
    if (request->visit) {
        std::string visit = absolute(job, taken.subject, *request->visit);
        if (!isWebAddress(visit)) {
            why = "the visit address is not http(s): " + loggable(visit);
            return std::nullopt;
        }
        sending.visitUrl = std::move(visit);
    }
    if (!rule.isPageSearch()) return sending;
    const auto page = rule.page.expand(taken.captures);
    if (!page) {
        why = "the page address is " + kTooLong;
        return std::nullopt;
    }
    sending.pageUrl = absolute(job, taken.subject, *page);
    if (!isWebAddress(sending.pageUrl)) {
        why = "the page address is not http(s): " + loggable(sending.pageUrl);
        return std::nullopt;
    }
    return sending;
}

// The visit: read as a browser reads a page, for the cookies it sets.
TransferRequest visitRequest(const JobContext& job, const RuleSending& sending) {
    TransferRequest request = servicePageRequest(job, *sending.visitUrl);
    sending.refer(request, request.referringPage);
    request.hostCookies = sending.hostCookies;
    request.headers.insert(request.headers.end(), sending.pageHeaders.begin(),
                           sending.pageHeaders.end());
    return request;
}

// The page: after the visit when there is one (it comes from there), sent as a form when the
// rule has one (the "continue to image" step).
TransferRequest pageRequest(const JobContext& job, const RuleSending& sending) {
    TransferRequest request = servicePageRequest(job, sending.pageUrl);
    sending.refer(request, sending.visitUrl
                               ? referringPageFor(job.program.session, *sending.visitUrl)
                               : request.referringPage);
    request.hostCookies = sending.hostCookies;
    request.headers.insert(request.headers.end(), sending.pageHeaders.begin(),
                           sending.pageHeaders.end());
    if (sending.form) {
        request.method = TransferRequest::Method::Post;
        request.formBody = *sending.form;
    }
    return request;
}

// What a page search found: the hits to take, or why there are none.
struct RuleHits {
    PageHits hits;
    std::string address;  // where the page was found, after redirects
    std::string refusal;  // the page could not be read or searched
};

RuleHits searchRulePage(JobContext& job, const FileRule& rule, const RuleSending& sending) {
    RuleHits result;
    if (sending.visitUrl) {
        // Only its cookies count; a visit that fails leaves the page to say what it says.
        job.pages->read(visitRequest(job, sending));
    }
    const PageRead page = job.pages->read(pageRequest(job, sending));
    result.address = page.finalUrl.empty() ? sending.pageUrl : page.finalUrl;
    std::string error = page.error;
    if (page.transferred && page.httpStatus >= 400)
        error = "HTTP " + std::to_string(page.httpStatus);
    if (error.empty()) {
        SearchOptions options;
        options.everyHit = rule.all;
        // Between slices of a long search the windows (and Ctrl+C) get their turn.
        options.stopRequested = [&job] {
            job.services.eventLoop.yieldOnce();
            return job.stopRequested();
        };
        result.hits = searchPageFile(page.body.get(), *rule.find, options);
        if (result.hits.end == SearchEnd::Stopped) job.checkStop();
        error = result.hits.problem;
    }
    if (!error.empty()) {
        result.refusal = "Service page cannot be read: " + loggable(sending.pageUrl) + " (" +
                         loggable(error) + ")";
    }
    return result;
}

// One file of the rule: its address (from the hit when there is one), checked, named, and handed
// to the download with what the rule's host needs. "" when it went, else why it cannot.
std::string fetchRuleFile(JobContext& job, const RuleSet::Taken& taken, const RuleSending& sending,
                          const Captures* hit, const std::string& foundAt) {
    const FileRule& rule = *taken.rule;
    const std::string called = "Rule \"" + rule.name + "\"";
    const auto full =
        hit != nullptr ? rule.fullAddress(taken.captures, hit) : rule.full.expand(taken.captures);
    if (!full) return called + ": the full-size address is " + kTooLong;
    const std::string url = absolute(job, hit != nullptr ? foundAt : taken.subject, *full);
    // javascript:, data:, file: and the like are never requested.
    if (!isWebAddress(url)) return called + ": not an http(s) address: " + loggable(url);

    DownloadTarget target{url, lastPathPart(url)};
    if (rule.fileName) {
        const auto written = rule.fileName->expand(taken.captures, hit);
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
    target.hostCookies = sending.hostCookies;
    if (sending.referer) {
        target.ownReferer = true;
        if (!sending.referer->empty()) target.headers.push_back("Referer: " + *sending.referer);
    } else if (!foundAt.empty()) {
        target.referringPage = foundAt;  // the file comes from its page
    }
    if (rule.hasPlaceholders()) {
        target.isPlaceholder = [&rule](std::uint64_t size, std::string_view sha256) {
            return rule.isPlaceholder(size, sha256);
        };
    }
    fetchFile(job, target);
    return {};
}

}  // namespace

std::string loggable(std::string_view text, std::size_t limit) {
    return printableText(text, limit);
}

void runFileRule(JobContext& job, const RuleSet::Taken& taken, const std::string& image) {
    const FileRule& rule = *taken.rule;
    // What goes to failed.txt when the rule cannot go on: the address the rule took, so that a
    // retry gives it to the rule again (a link rule's link, an image rule's image).
    const std::string& thumbnail =
        rule.subject == RuleSubject::Link || image.empty() ? taken.subject : image;
    const std::string called = "Rule \"" + rule.name + "\"";

    std::string why;
    const std::optional<RuleSending> sending = ruleSending(job, taken, why);
    if (!sending) return refuse(job, thumbnail, called + ": " + why);

    if (!rule.isPageSearch()) {
        // A rewrite: the visit, when the rule has one, for the cookies the file needs.
        if (sending->visitUrl) job.pages->read(visitRequest(job, *sending));
        const std::string problem = fetchRuleFile(job, taken, *sending, nullptr, {});
        if (!problem.empty()) refuse(job, thumbnail, problem);
        return;
    }

    const RuleHits search = searchRulePage(job, rule, *sending);
    if (!search.refusal.empty()) return refuse(job, thumbnail, search.refusal);
    if (search.hits.hits.empty()) {
        return decline(job, called + ": `find` matched nothing on " + loggable(search.address));
    }
    // Every hit in page order when the rule takes them all, else the first.
    bool refused = false;
    for (const Captures& hit : search.hits.hits) {
        std::string problem;
        if (hit.cut) {
            problem = called + ": what `find` captured on " + loggable(search.address) +
                      " is longer than " + std::to_string(kMaxFoundBytes) + " bytes";
        } else {
            problem = fetchRuleFile(job, taken, *sending, &hit, search.address);
        }
        if (problem.empty()) continue;
        if (job.dryRun != nullptr) {
            job.dryRun->decline(problem);
            continue;
        }
        job.services.status.appendLog(problem + "\r\n");
        refused = true;
    }
    if (search.hits.moreHits && job.dryRun == nullptr) {
        job.services.status.appendLog(called + ": " + loggable(search.address) + " has more than " +
                                      std::to_string(kMaxHitsPerPage) +
                                      " hits; the first ones are taken\r\n");
    }
    // Once for the address, however many of its hits could not be used.
    if (refused) logFailedAddress(job, thumbnail);
}

std::optional<PagePlan> planFileRule(const JobContext& job, const RuleSet::Taken& taken) {
    std::string why;
    const std::optional<RuleSending> sending = ruleSending(job, taken, why);
    if (!sending || (!taken.rule->isPageSearch() && !sending->visitUrl)) return std::nullopt;
    if (!sending->visitUrl) return PagePlan{pageRequest(job, *sending), {}};
    if (!taken.rule->isPageSearch()) return PagePlan{visitRequest(job, *sending), {}};
    // The page after the visit, once the visit's cookies are in.
    const TransferRequest page = pageRequest(job, *sending);
    return PagePlan{visitRequest(job, *sending),
                    [page](PageRead&) -> std::optional<TransferRequest> { return page; }};
}

void fetchLinkedImage(JobContext& job, const std::string& link) {
    fetchFile(job, {link, lastPathPart(link)});
}

}  // namespace velnoria
