// The rules that read an intermediate page of the service before they know the image's address.
#include <chrono>
#include <string>

#include "download/fetch_file.h"
#include "download/host_rules.h"
#include "download/page_scan.h"
#include "download/rule_steps.h"
#include "download/text_ops.h"

namespace velnoria {

namespace {

constexpr std::chrono::milliseconds kImageVenueWait{300};

PageScanResult scanIndexPage(JobContext& job, const std::string& pageUrl, std::string marker,
                             std::chrono::milliseconds wait = {}) {
    return scanPage(job.services.urlDownload,
                    {pageUrl, job.program.workFolder / "index.htm", std::move(marker), wait, {}});
}

std::string key(int slot) {
    return std::string(hostKey(slot));
}

}  // namespace

void imageBamRule(JobContext& job, const std::string& entry) {
    std::string imageId;
    assignField(imageId, [&] { return retparm(retlast(entry, "/"), 1, "."); });
    const PageScanResult page =
        scanIndexPage(job, "http://www." + key(kImageBamSlot) + "/image/" + imageId,
                      key(kImageBamSlot) + "/download/");
    if (page.position < 1) return;

    const std::string text = fromPosition(page.item, static_cast<long long>(page.position) - 12);
    // The page writes the address's ampersands as "&amp;".
    assignField(job.targetUrl, [&] { return replaceAll(retparm(text, 2, "'"), "amp;", ""); });

    // The file name comes from the download address's own answer, not from the thumbnail.
    TransferControl& inet = job.services.inet;
    inet.execute(job.targetUrl, "HEAD");
    do {
        job.services.eventLoop.yieldOnce();
    } while (inet.stillExecuting());
    const std::string disposition = inet.getHeader("Content-Disposition");
    assignField(job.targetName, [&] { return retparm(disposition, 2, "\""); });
    inet.cancel();
    fetchFile(job);
}

void imageVenueRule(JobContext& job, const std::string& entry) {
    const std::size_t m = positionOf(entry, ".com");
    std::string location;
    assignField(location, [&] { return retparm(fromPosition(entry, m + 5), 1, "/"); });
    const std::string host = firstChars(entry, m + 4);
    const std::size_t s = positionOf(entry, "th_");
    const std::string pageUrl =
        host + "img.php?loc=" + location + "&image=" + fromPosition(entry, s + 3);

    const PageScanResult page = scanIndexPage(job, pageUrl, " alt=", kImageVenueWait);
    if (page.position < 1) return;

    std::string path;
    assignField(path, [&] {
        return retparm(fromPosition(page.item, static_cast<long long>(page.position) + 6), 1, "\"");
    });
    job.targetUrl = host + path;
    // Downloaded before in this run (or part of an address that was): the scan was for nothing.
    if (contains(job.program.doneList, job.targetUrl)) return;
    setNameFromLastField(job, job.targetUrl);
    fetchFile(job);
    job.program.doneList += "*" + job.targetUrl;
}

void imageHavenRule(JobContext& job, const std::string& entry) {
    const PageScanResult page =
        scanIndexPage(job, replaceAll(entry, "/thumbs/", ".php?id="), "<img src='");
    if (page.position < 1) return;

    std::string path;
    assignField(path, [&] {
        return retparm(fromPosition(page.item, static_cast<long long>(page.position) + 12), 1, "'");
    });
    const std::size_t d = positionOf(entry, ".net");
    fetchNamedByLastField(job, firstChars(entry, d + 4) + path);
}

void turboImageHostRule(JobContext& job, const std::string& entry) {
    const std::string hostKeyText = key(kTurboImageHostSlot);
    if (!contains(entry, hostKeyText + "/t")) return;
    std::string fileName;
    assignField(fileName, [&] { return retlast(entry, "/"); });
    const std::string pageUrl =
        replaceFirst("http://www." + hostKeyText + "/p/" + fileName + ".html", "_", "/");

    const PageScanResult page = scanIndexPage(job, pageUrl, "." + hostKeyText + "/sp");
    if (page.position == 0) return;

    // The address starts 11 characters before the image server's host name ends its "http://".
    job.targetUrl = fromPosition(page.item, static_cast<long long>(page.position) - 11);
    assignField(job.targetUrl, [&] { return retparm(job.targetUrl, 1, "\""); });
    setNameFromLastField(job, job.targetUrl);
    fetchFile(job);
}

}  // namespace velnoria
