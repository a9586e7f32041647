#include "download/rule_steps.h"

#include <utility>

#include "download/fetch_file.h"
#include "download/text_ops.h"

namespace velnoria {

void fetchNamedByLastField(JobContext& job, std::string url) {
    job.targetUrl = std::move(url);
    setNameFromLastField(job, job.targetUrl);
    fetchFile(job);
}

void setNameFromLastField(JobContext& job, std::string_view address) {
    assignField(job.targetName, [&] { return retlast(address, "/"); });
}

}  // namespace velnoria
