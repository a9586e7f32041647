// Flickr: the photo's size page names the original file.
#include <string>

#include "download/fetch_file.h"
#include "download/host_rules.h"
#include "download/page_scan.h"
#include "download/text_ops.h"

namespace velnoria {

void flickrRule(JobContext& job, const std::string& entry) {
    // Set by the first address of the job that comes here, whether it is handled or not.
    if (job.flickrUser.empty()) {
        const std::size_t p = positionOf(job.pageAddress, "/photos/");
        assignField(job.flickrUser,
                    [&] { return retparm(fromPosition(job.pageAddress, p + 1), 2, "/"); });
    }
    if (!contains(entry, "_s")) return;

    std::string photo;
    assignField(photo, [&] { return retparm(retlast(entry, "/"), 1, "_"); });
    const std::string sizePage = "http://www." + std::string(hostKey(kFlickrSlot)) + "/photos/" +
                                 job.flickrUser + "/" + photo + "/sizes/o/";

    // The download happens while the size page's scratch file is still open; a stop in it
    // leaves through the scan, which deletes the file.
    const PageScanResult page = scanPage(
        job.services.urlDownload, {sizePage,
                                   job.program.workFolder / "temp.txt",
                                   "_o.jpg",
                                   {},
                                   [&](const std::string& item, std::size_t position) {
                                       assignField(job.targetUrl, [&] {
                                           return retlast(firstChars(item, position + 5), "\"");
                                       });
                                       job.targetName = photo + ".jpg";
                                       fetchFile(job);
                                   }});
    if (page.position > 0) return;

    job.services.status.appendLog("Original file cannot be downloaded.\r\n");
    if (!contains(entry, kFlickrFirstStaticServer)) return;
    job.targetUrl = replaceAll(entry, "_s.", "_o.");
    job.targetName = photo + ".jpg";
    fetchFile(job);
}

}  // namespace velnoria
