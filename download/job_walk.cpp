#include "download/job_walk.h"

#include <exception>

#include "download/host_rules.h"
#include "download/text_ops.h"

namespace velnoria {

namespace {

void runRule(JobContext& job, int slot, const std::string& entry) {
    const HostRule rule = hostRuleFor(slot);
    if (!rule) return;
    // A statement a rule skips must never leave the previous file's address or name in place.
    job.targetUrl.clear();
    job.targetName.clear();
    try {
        rule(job, entry);
    } catch (const std::exception&) {
        // A failing step ends this rule only; the walk goes on with the next entry.
    }
}

}  // namespace

void walkThumbList(JobContext& job) {
    const HostTable& table = job.hostTable;
    for (int i = 1; i <= kThumbListSize && !job.walkEnded; ++i) {
        const std::string& entry = job.thumbList[static_cast<std::size_t>(i - 1)];
        bool matched = false;
        std::size_t j = 1;
        do {
            if (!table[j].empty() && contains(entry, table[j])) {
                matched = true;
                runRule(job, static_cast<int>(j), entry);
            }
            ++j;
        } while (j < table.size() && !table[j].empty() && !matched);
    }
}

}  // namespace velnoria
