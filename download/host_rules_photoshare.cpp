// Photoshare: the page's links, not its images, lead to the files; then the walk ends.
#include <exception>
#include <string>
#include <vector>

#include "download/fetch_file.h"
#include "download/host_rules.h"
#include "download/text_ops.h"

namespace velnoria {

void photoshareRule(JobContext& job, const std::string&) {
    // No later entry is looked at, however this rule ends.
    job.walkEnded = true;
    std::vector<std::string> links;
    try {
        links = job.services.document.linkTargets();
    } catch (const std::exception&) {
        // An unreadable document has no links.
    }
    const std::string key(hostKey(kPhotoshareSlot));
    const std::string photoPath = key + "/photo";
    std::string lastLink = job.pageAddress;
    for (const std::string& href : links) {
        if (href == lastLink) continue;  // the same address twice in a row is taken once
        lastLink = href;
        if (!contains(href, photoPath)) continue;
        job.targetName.clear();
        job.targetUrl = replaceAll(replaceAll(href, photoPath, key + "/original/" + key + "-"),
                                   ".html", ".jpg");
        assignField(job.targetName,
                    [&] { return replaceAll(retlast(job.targetUrl, "/"), key + "-", ""); });
        fetchFile(job);
    }
}

}  // namespace velnoria
