// The rules that turn a thumbnail address into the full-size address by text alone.
#include "download/fetch_file.h"
#include "download/host_rules.h"
#include "download/rule_steps.h"
#include "download/text_ops.h"

namespace velnoria {

void imageShackRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, ".th.")) return;
    // Every "th." goes, also one inside the file name: that is how the service's names come out.
    fetchNamedByLastField(job, replaceAll(entry, "th.", ""));
}

void googleUserContentRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, hostKey(kGoogleUserContentSlot)) || !contains(entry, "/s128")) return;
    fetchNamedByLastField(job, replaceAll(entry, "/s128", "/d"));
}

void onSugarRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, "larger.")) return;
    fetchNamedByLastField(job, replaceAll(entry, "larger.", ""));
}

void hqCityRule(JobContext& job, const std::string& entry) {
    fetchNamedByLastField(job, replaceAll(entry, "thumbs/", "hq/"));
}

void skinsRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, "thumb." + std::string(hostKey(kSkinsSlot)))) return;
    fetchNamedByLastField(job, replaceAll(entry, "thumb.", "img."));
}

void radikalRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, "t.jpg")) return;
    fetchNamedByLastField(job, replaceAll(entry, "t.jpg", ".jpg"));
}

void photofileRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, "small/")) return;
    if (contains(entry, "?") && !contains(entry, "?cid=")) return;
    std::string url = replaceAll(entry, "small/", "");
    assignField(url, [&] { return retparm(url, 1, "?"); });
    fetchNamedByLastField(job, std::move(url));
}

void shareNxsRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, "/thumbnails/")) return;
    assignField(job.targetName, [&] { return retlast(entry, "-"); });
    std::string prefix;
    assignField(prefix, [&] { return retparm(retlast(entry, "/"), 1, "-"); });
    job.targetUrl = replaceAll(entry, prefix + "-", "");
    if (const auto at = positionOf(job.targetUrl, "caba/"); at > 0) {
        job.targetUrl = "http://images." + std::string(hostKey(kShareNxsSlot)) + "/wz/" +
                        fromPosition(job.targetUrl, static_cast<long long>(at));
    }
    fetchFile(job);
}

void frillrRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, "/thumbnails/")) return;
    setNameFromLastField(job, entry);
    job.targetUrl = replaceAll(entry, "/thumbnails/", "/images/");
    fetchFile(job);
}

void webshotsRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, "http://thumb") || !contains(entry, "_th.")) return;
    job.targetUrl = replaceAll(entry, "_th.", "_fs.");
    // Saved under the thumbnail's own name, "_th." and all.
    setNameFromLastField(job, entry);
    fetchFile(job);
}

void yandexFotkiRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, "_S") && !contains(entry, "-S")) return;
    job.targetUrl = replaceAll(replaceAll(entry, "-S", "-orig"), "_S", "_orig");
    assignField(job.targetName, [&] {
        return replaceAll(replaceAll(retlast(job.targetUrl, "/"), "_orig", ""), "-orig", "") +
               ".jpg";
    });
    fetchFile(job);
}

}  // namespace velnoria
