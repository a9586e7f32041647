#include "download/dry_run.h"

#include "core/web_address.h"
#include "download/rules/file_rule.h"
#include "download/safe_file_name.h"

namespace velnoria {

void DryRun::beginImage(const std::string& thumbnail) {
    thumbnail_ = thumbnail;
    reason_.clear();
    reported_ = false;
}

void DryRun::handOver(const DownloadTarget& target) {
    reported_ = true;
    TargetReport line{thumbnail_, {}, {}, {}};
    // The per-file download would try these and fail; the dry run says why at once.
    if (!isWebAddress(target.url)) {
        line.declined = "not an http(s) address: " + target.url;
    } else if (const std::string name = safeFileName(target.name); name.empty()) {
        line.declined = "no usable file name for " + target.url + " (\"" + target.name + "\")";
    } else {
        line.url = target.url;
        line.name = target.folder.empty() ? name : target.folder + "/" + name;
    }
    report_(line);
}

void DryRun::endImage(std::string_view otherwise) {
    if (reported_) return;
    report_({thumbnail_, {}, {}, reason_.empty() ? std::string(otherwise) : reason_});
}

}  // namespace velnoria
