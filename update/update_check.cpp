#include "update/update_check.h"

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/number_reading.h"
#include "core/page_item_reader.h"
#include "core/temporary_file.h"
#include "core/unique_fd.h"

namespace velnoria {

namespace {

constexpr const char* kContacting = "Contacting server, please wait...";
// A version file is a few bytes; anything longer is not one.
constexpr std::uintmax_t kVersionFileLimit = 1024 * 1024;

// The first item of the version file, fetched into a scratch file of the check's own (so a
// "version.txt" of the user's is never read, replaced or deleted); nullopt when it could not be
// fetched.
std::optional<std::string> fetchNewestVersion(UrlDownload& urlDownload,
                                              const std::filesystem::path& scratchFolder) {
    TemporaryFile scratch(scratchFolder, "velnoria-version-", ".txt", 0600);
    if (!scratch.valid()) return std::nullopt;
    const int fd = scratch.fd();
    const DownloadOutcome outcome = urlDownload.download(
        kVersionFileUrl,
        [fd](const char* data, std::size_t size) {
            return writeAll(fd, std::string_view(data, size));
        },
        kVersionFileLimit);
    if (!outcome.transferred || !outcome.written) return std::nullopt;
    return readFirstPageItem(scratch.path()).value_or(std::string());
}

}  // namespace

UpdateCheckOutcome checkForUpdate(const UpdateCheckServices& services, bool startingUp) {
    const std::string contacting = kContacting;
    UpdateCheckOutcome outcome = UpdateCheckOutcome::Unreachable;
    services.setStatusLine(contacting);
    if (const auto newest = fetchNewestVersion(services.urlDownload, services.scratchFolder)) {
        services.setStatusLine(contacting + "OK");
        if (numericValue(*newest) > numericValue(kVersionText)) {
            outcome = UpdateCheckOutcome::NewerVersion;
            services.messageBox.show("New version",
                                     "New version available ! Please visit our site to download",
                                     MessageIcon::None);
            services.shell.openUrl(kHomePage);
        } else {
            outcome = UpdateCheckOutcome::NoNewerVersion;
            if (!startingUp) {
                services.messageBox.show("Update checked",
                                         "There is no new version available at this time!",
                                         MessageIcon::None);
            }
        }
    } else {
        services.setStatusLine(contacting + "failed.");
        if (!startingUp) {
            services.messageBox.show("Error", "Our page cannot be contacted",
                                     MessageIcon::Critical);
        }
    }
    services.setStatusLine("");
    return outcome;
}

}  // namespace velnoria
