// The built-in host rules, one per service, and the table of their slots at the end.
//
// Each rule looks at the address its slot took (the thumbnail), works out the full-size file's
// address and name and hands them to the per-file download, or declines by doing nothing. Three
// families: rules that rewrite the address alone, rules that first read an intermediate page of
// the service, and Photoshare, which reads the page's links instead of its images.
#include "download/host_rules.h"

#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include "core/text.h"
#include "download/dry_run.h"
#include "download/fetch_file.h"
#include "download/host_registry.h"
#include "download/page_reads.h"
#include "download/page_scan.h"
#include "download/rules/rule_text.h"

namespace velnoria {

namespace {

// The keys that select the slots; the rules build their services' addresses from them.
constexpr std::string_view kImageBam = "imagebam.com";
constexpr std::string_view kImageVenue = "imagevenue.com";
constexpr std::string_view kImageHaven = "imagehaven.net";
constexpr std::string_view kPlaceholder = "#############";
constexpr std::string_view kImageShack = "imageshack.us";
constexpr std::string_view kGoogleUserContent = "googleusercontent.com";
constexpr std::string_view kOnSugar = "media.onsugar.com";
constexpr std::string_view kHqCity = "hqcity.net";
constexpr std::string_view kSkins = "skins.be";
constexpr std::string_view kRadikal = "radikal.ru";
constexpr std::string_view kTurboImageHost = "turboimagehost.com";
constexpr std::string_view kFlickr = "flickr.com";
constexpr std::string_view kPhotofile = "users.photofile.ru/photo";
constexpr std::string_view kShareNxs = "sharenxs.com";
constexpr std::string_view kFrillr = "frillr.com";
constexpr std::string_view kWebshots = "webshots.com";
constexpr std::string_view kYandexFotki = "img-fotki.yandex.ru";
constexpr std::string_view kPhotoshare = "photoshare.ru";

// Host name prefix of Flickr's first static image server.
constexpr std::string_view kFlickrFirstStaticServer = "farm1.static";

constexpr std::chrono::milliseconds kImageVenueWait{300};

std::string text(std::string_view key) {
    return std::string(key);
}

// The last "/" field of an address, as most rules name their files (skipped when it overflows).
void nameFromLastField(DownloadTarget& target, std::string_view address) {
    assignField(target.name, [&] { return lastField(address, "/"); });
}

// Downloads url under the name of its own last "/" field.
void fetchNamedByLastField(JobContext& job, std::string url) {
    DownloadTarget target{std::move(url), {}};
    nameFromLastField(target, target.url);
    fetchFile(job, target);
}

// Logs a service page that could not be read and held no marker either, so the thumbnail does
// not vanish in silence.
bool reportUnreadablePage(JobContext& job, const std::string& pageUrl, const PageScanResult& page) {
    if (page.position > 0 || page.problem.empty()) return false;
    const std::string said = "Service page cannot be read: " + pageUrl + " (" + page.problem + ")";
    if (job.dryRun != nullptr) {
        job.dryRun->decline(said);
    } else {
        job.services.status.appendLog(said + "\r\n");
    }
    return true;
}

// Reads a service page for the marker. When the page could not be read, the thumbnail's address
// goes to "failed.txt"; a page read without the marker declines silently.
PageScanResult readServicePage(JobContext& job, const std::string& pageUrl,
                               const std::string& marker, std::chrono::milliseconds wait = {}) {
    PageScanResult page = scanServicePage(job, pageUrl, marker, wait);
    if (reportUnreadablePage(job, pageUrl, page)) logFailedAddress(job, job.entry);
    return page;
}

// A page plan of a rule that reads one page and nothing after it.
std::optional<PagePlan> onePage(const JobContext& job, const std::string& pageUrl) {
    return PagePlan{servicePageRequest(job, pageUrl), {}};
}

// --- Rules that rewrite the address alone ---

void imageShackRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, ".th.")) return;
    // Every "th." goes, also one inside the file name: that is how the service's names come out.
    fetchNamedByLastField(job, replaceAll(entry, "th.", ""));
}

void googleUserContentRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, kGoogleUserContent) || !contains(entry, "/s128")) return;
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
    if (!contains(entry, "thumb." + text(kSkins))) return;
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
    assignField(url, [&] { return field(url, 1, "?"); });
    fetchNamedByLastField(job, std::move(url));
}

void shareNxsRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, "/thumbnails/")) return;
    DownloadTarget target;
    assignField(target.name, [&] { return lastField(entry, "-"); });
    std::string prefix;
    assignField(prefix, [&] { return field(lastField(entry, "/"), 1, "-"); });
    target.url = replaceAll(entry, prefix + "-", "");
    if (const auto at = positionOf(target.url, "caba/"); at > 0) {
        target.url = "http://images." + text(kShareNxs) + "/wz/" +
                     fromPosition(target.url, static_cast<long long>(at));
    }
    fetchFile(job, target);
}

void frillrRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, "/thumbnails/")) return;
    DownloadTarget target;
    nameFromLastField(target, entry);
    target.url = replaceAll(entry, "/thumbnails/", "/images/");
    fetchFile(job, target);
}

void webshotsRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, "http://thumb") || !contains(entry, "_th.")) return;
    DownloadTarget target;
    target.url = replaceAll(entry, "_th.", "_fs.");
    // Saved under the thumbnail's own name, "_th." and all.
    nameFromLastField(target, entry);
    fetchFile(job, target);
}

void yandexFotkiRule(JobContext& job, const std::string& entry) {
    if (!contains(entry, "_S") && !contains(entry, "-S")) return;
    DownloadTarget target;
    target.url = replaceAll(replaceAll(entry, "-S", "-orig"), "_S", "_orig");
    assignField(target.name, [&] {
        return replaceAll(replaceAll(lastField(target.url, "/"), "_orig", ""), "-orig", "") +
               ".jpg";
    });
    fetchFile(job, target);
}

// --- Rules that read an intermediate page of the service first ---

std::string imageBamPage(const std::string& entry) {
    std::string imageId;
    assignField(imageId, [&] { return field(lastField(entry, "/"), 1, "."); });
    return "http://www." + text(kImageBam) + "/image/" + imageId;
}

const std::string& imageBamMarker() {
    static const std::string marker = text(kImageBam) + "/download/";
    return marker;
}

// The download address in the item that holds the marker.
std::string imageBamDownloadAddress(const PageScanResult& page) {
    std::string url;
    const std::string item = fromPosition(page.item, static_cast<long long>(page.position) - 12);
    // The page writes the address's ampersands as "&amp;".
    assignField(url, [&] { return replaceAll(field(item, 2, "'"), "amp;", ""); });
    return url;
}

// The file name comes from the download address's own answer, not from the thumbnail.
TransferRequest imageBamHeaderRequest(const JobContext& job, const std::string& url) {
    TransferRequest request = servicePageRequest(job, url);
    request.method = TransferRequest::Method::Head;
    return request;
}

std::optional<PagePlan> imageBamPlan(const JobContext& job, const std::string& entry) {
    const TransferRequest headerRequest = imageBamHeaderRequest(job, {});
    return PagePlan{servicePageRequest(job, imageBamPage(entry)),
                    [headerRequest](PageRead& page) -> std::optional<TransferRequest> {
                        const PageScanResult found =
                            findMarkerItem(page.body.get(), imageBamMarker(), {});
                        if (found.position < 1) return std::nullopt;
                        TransferRequest request = headerRequest;
                        request.url = imageBamDownloadAddress(found);
                        return request;
                    }};
}

void imageBamRule(JobContext& job, const std::string& entry) {
    const PageScanResult page = readServicePage(job, imageBamPage(entry), imageBamMarker());
    if (page.position < 1) return;

    DownloadTarget target;
    target.url = imageBamDownloadAddress(page);
    const PageRead answer = job.pages->read(imageBamHeaderRequest(job, target.url));
    const std::string disposition = headerValue(answer.headerBlock, "Content-Disposition");
    assignField(target.name, [&] { return field(disposition, 2, "\""); });
    fetchFile(job, target);
}

// The image's page on the service, and the service's address it is built from.
struct ImageVenuePage {
    std::string host;
    std::string url;
};

ImageVenuePage imageVenuePage(const std::string& entry) {
    const std::size_t m = positionOf(entry, ".com");
    std::string location;
    assignField(location, [&] { return field(fromPosition(entry, m + 5), 1, "/"); });
    const std::string host = firstChars(entry, m + 4);
    const std::size_t s = positionOf(entry, "th_");
    return {host, host + "img.php?loc=" + location + "&image=" + fromPosition(entry, s + 3)};
}

std::optional<PagePlan> imageVenuePlan(const JobContext& job, const std::string& entry) {
    return onePage(job, imageVenuePage(entry).url);
}

void imageVenueRule(JobContext& job, const std::string& entry) {
    const ImageVenuePage venue = imageVenuePage(entry);
    const PageScanResult page = readServicePage(job, venue.url, " alt=", kImageVenueWait);
    if (page.position < 1) return;

    std::string path;
    assignField(path, [&] {
        return field(fromPosition(page.item, static_cast<long long>(page.position) + 6), 1, "\"");
    });
    DownloadTarget target{venue.host + path, {}};
    // Downloaded before in this run (or part of an address that was): the scan was for nothing.
    std::string& done = job.memory.imageVenueDone;
    if (contains(done, target.url)) return;
    nameFromLastField(target, target.url);
    fetchFile(job, target);
    done += "*" + target.url;
}

std::string imageHavenPage(const std::string& entry) {
    return replaceAll(entry, "/thumbs/", ".php?id=");
}

std::optional<PagePlan> imageHavenPlan(const JobContext& job, const std::string& entry) {
    return onePage(job, imageHavenPage(entry));
}

void imageHavenRule(JobContext& job, const std::string& entry) {
    const PageScanResult page = readServicePage(job, imageHavenPage(entry), "<img src='");
    if (page.position < 1) return;

    std::string path;
    assignField(path, [&] {
        return field(fromPosition(page.item, static_cast<long long>(page.position) + 12), 1, "'");
    });
    const std::size_t d = positionOf(entry, ".net");
    fetchNamedByLastField(job, firstChars(entry, d + 4) + path);
}

// The image's page; none when the address is not a thumbnail of the service.
std::optional<std::string> turboImageHostPage(const std::string& entry) {
    const std::string key = text(kTurboImageHost);
    if (!contains(entry, key + "/t")) return std::nullopt;
    std::string fileName;
    assignField(fileName, [&] { return lastField(entry, "/"); });
    return replaceFirst("http://www." + key + "/p/" + fileName + ".html", "_", "/");
}

std::optional<PagePlan> turboImageHostPlan(const JobContext& job, const std::string& entry) {
    const auto page = turboImageHostPage(entry);
    if (!page) return std::nullopt;
    return onePage(job, *page);
}

void turboImageHostRule(JobContext& job, const std::string& entry) {
    const auto pageUrl = turboImageHostPage(entry);
    if (!pageUrl) return;
    const PageScanResult page = readServicePage(job, *pageUrl, "." + text(kTurboImageHost) + "/sp");
    if (page.position == 0) return;

    // The address starts 11 characters before the image server's host name ends its "http://".
    DownloadTarget target;
    target.url = fromPosition(page.item, static_cast<long long>(page.position) - 11);
    assignField(target.url, [&] { return field(target.url, 1, "\""); });
    nameFromLastField(target, target.url);
    fetchFile(job, target);
}

// Flickr: the photo's size page names the original file. The user comes from the page address
// of the job's first Flickr address, whether that one is handled or not.
std::string flickrUser(const JobContext& job) {
    if (!job.memory.flickrUser.empty()) return job.memory.flickrUser;
    std::string user;
    const std::size_t p = positionOf(job.page.address, "/photos/");
    assignField(user, [&] { return field(fromPosition(job.page.address, p + 1), 2, "/"); });
    return user;
}

std::string flickrPhoto(const std::string& entry) {
    std::string photo;
    assignField(photo, [&] { return field(lastField(entry, "/"), 1, "_"); });
    return photo;
}

std::string flickrSizePage(const std::string& user, const std::string& photo) {
    return "http://www." + text(kFlickr) + "/photos/" + user + "/" + photo + "/sizes/o/";
}

std::optional<PagePlan> flickrPlan(const JobContext& job, const std::string& entry) {
    if (!contains(entry, "_s")) return std::nullopt;
    return onePage(job, flickrSizePage(flickrUser(job), flickrPhoto(entry)));
}

void flickrRule(JobContext& job, const std::string& entry) {
    if (job.memory.flickrUser.empty()) job.memory.flickrUser = flickrUser(job);
    if (!contains(entry, "_s")) return;

    const std::string photo = flickrPhoto(entry);
    const std::string sizePage = flickrSizePage(job.memory.flickrUser, photo);
    // The download happens while the size page is still open.
    const PageScanResult page =
        scanServicePage(job, sizePage, "_o.jpg", {}, [&](const std::string& item, std::size_t at) {
            DownloadTarget target;
            assignField(target.url, [&] { return lastField(firstChars(item, at + 5), "\""); });
            target.name = photo + ".jpg";
            fetchFile(job, target);
        });
    if (page.position > 0) return;

    const bool unreadable = reportUnreadablePage(job, sizePage, page);
    job.services.status.appendLog("Original file cannot be downloaded.\r\n");
    if (!contains(entry, kFlickrFirstStaticServer)) {
        // Nothing else to try: a size page that could not be read leaves the thumbnail logged.
        if (unreadable) logFailedAddress(job, entry);
        return;
    }
    fetchFile(job, {replaceAll(entry, "_s.", "_o."), photo + ".jpg"});
}

// Photoshare: the page's links, not its images, lead to the files; then the walk ends.
void photoshareRule(JobContext& job, const std::string&) {
    // No later entry is looked at, however this rule ends.
    job.walkEnded = true;
    const std::vector<std::string>& links = job.page.links;
    const std::string key = text(kPhotoshare);
    const std::string photoPath = key + "/photo";
    std::string lastLink = job.page.address;
    for (const std::string& href : links) {
        if (href == lastLink) continue;  // the same address twice in a row is taken once
        lastLink = href;
        if (!contains(href, photoPath)) continue;
        DownloadTarget target;
        target.url = replaceAll(replaceAll(href, photoPath, key + "/original/" + key + "-"),
                                ".html", ".jpg");
        assignField(target.name,
                    [&] { return replaceAll(lastField(target.url, "/"), key + "-", ""); });
        fetchFile(job, target);
    }
}

// --- Which addresses are thumbnails (what a retry may give a rule again) ---

template <const std::string_view& kMark>
bool holds(const std::string& address) {
    return contains(address, kMark);
}

constexpr std::string_view kImageBamDownload = "/download/";
constexpr std::string_view kImageVenueThumb = "th_";
constexpr std::string_view kThumbsFolder = "/thumbs/";
constexpr std::string_view kThumbnailsFolder = "/thumbnails/";
constexpr std::string_view kImageShackThumb = ".th.";
constexpr std::string_view kGoogleThumb = "/s128";
constexpr std::string_view kOnSugarThumb = "larger.";
constexpr std::string_view kHqCityThumb = "thumbs/";
constexpr std::string_view kRadikalThumb = "t.jpg";
constexpr std::string_view kPhotofileThumb = "small/";
constexpr std::string_view kFlickrThumb = "_s";

bool imageBamThumbnail(const std::string& address) {
    return !contains(address, kImageBamDownload);
}
bool skinsThumbnail(const std::string& address) {
    return contains(address, "thumb." + text(kSkins));
}
bool turboImageHostThumbnail(const std::string& address) {
    return turboImageHostPage(address).has_value();
}
bool webshotsThumbnail(const std::string& address) {
    return contains(address, "http://thumb") && contains(address, "_th.");
}
bool yandexFotkiThumbnail(const std::string& address) {
    return contains(address, "_S") || contains(address, "-S");
}

constexpr HostSlot kBuiltInSlots[] = {
    {"ImageBam", kImageBam, imageBamRule, imageBamPlan, false, imageBamThumbnail},
    {"ImageVenue", kImageVenue, imageVenueRule, imageVenuePlan, false, holds<kImageVenueThumb>},
    {"ImageHaven", kImageHaven, imageHavenRule, imageHavenPlan, false, holds<kThumbsFolder>},
    {"(placeholder)", kPlaceholder, nullptr},
    {"ImageShack", kImageShack, imageShackRule, nullptr, false, holds<kImageShackThumb>},
    {"Google user content", kGoogleUserContent, googleUserContentRule, nullptr, false,
     holds<kGoogleThumb>},
    {"OnSugar", kOnSugar, onSugarRule, nullptr, false, holds<kOnSugarThumb>},
    {"HQCity", kHqCity, hqCityRule, nullptr, false, holds<kHqCityThumb>},
    {"Skins", kSkins, skinsRule, nullptr, false, skinsThumbnail},
    {"Radikal", kRadikal, radikalRule, nullptr, false, holds<kRadikalThumb>},
    {"TurboImageHost", kTurboImageHost, turboImageHostRule, turboImageHostPlan, false,
     turboImageHostThumbnail},
    {"Flickr", kFlickr, flickrRule, flickrPlan, false, holds<kFlickrThumb>},
    {"Photofile", kPhotofile, photofileRule, nullptr, false, holds<kPhotofileThumb>},
    {"ShareNXS", kShareNxs, shareNxsRule, nullptr, false, holds<kThumbnailsFolder>},
    {"Frillr", kFrillr, frillrRule, nullptr, false, holds<kThumbnailsFolder>},
    {"Webshots", kWebshots, webshotsRule, nullptr, false, webshotsThumbnail},
    {"Yandex Fotki", kYandexFotki, yandexFotkiRule, nullptr, false, yandexFotkiThumbnail},
    // Its files come from the page's links: a retry has no page, so nothing is a thumbnail.
    {"Photoshare", kPhotoshare, photoshareRule, nullptr, true, nullptr},
};

}  // namespace

std::span<const HostSlot> builtInHostSlots() {
    return kBuiltInSlots;
}

}  // namespace velnoria
