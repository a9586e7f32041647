#include "update/update_check.h"

#include <cstdint>
#include <optional>
#include <system_error>

#include "core/number_reading.h"
#include "core/page_item_reader.h"
#include "core/unique_fd.h"

namespace velnoria {

namespace {

constexpr const char* kContacting = "Contacting server, please wait...";
constexpr const char* kVersionFileName = "version.txt";
// A version file is a few bytes; anything longer is not one.
constexpr std::uintmax_t kVersionFileLimit = 1024 * 1024;

void removeVersionFile(const std::filesystem::path& file) {
    std::error_code ec;
    // A folder of that name is not ours to remove.
    if (std::filesystem::is_directory(std::filesystem::symlink_status(file, ec))) return;
    std::filesystem::remove(file, ec);
}

// Removes "version.txt" however the check ends.
class RemoveOnExit {
  public:
    explicit RemoveOnExit(std::filesystem::path file) : file_(std::move(file)) {}
    ~RemoveOnExit() { removeVersionFile(file_); }
    RemoveOnExit(const RemoveOnExit&) = delete;
    RemoveOnExit& operator=(const RemoveOnExit&) = delete;

  private:
    std::filesystem::path file_;
};

// Fetches the version file into the local file. A failed transfer writes nothing, so a file that
// was already there stays as it was.
void fetchVersionFile(UrlDownload& urlDownload, const std::filesystem::path& file) {
    std::string body;
    const DownloadOutcome outcome = urlDownload.download(
        kVersionFileUrl,
        [&body](const char* data, std::size_t size) {
            body.append(data, size);
            return true;
        },
        kVersionFileLimit);
    if (!outcome.transferred || !outcome.written) return;

    UniqueFd fd = openForWriting(file);
    if (!fd.valid()) return;
    if (!writeAll(fd.get(), body)) {
        fd.reset();
        std::error_code ec;
        std::filesystem::remove(file, ec);
    }
}

// The first item of the local file; "" when it is empty, unreadable or too long to be one.
std::string firstItem(const std::filesystem::path& file) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec || size > kVersionFileLimit) return {};
    return readFirstPageItem(file).value_or(std::string());
}

}  // namespace

UpdateCheckOutcome checkForUpdate(const UpdateCheckServices& services, bool startingUp) {
    const std::filesystem::path file = services.workFolder / kVersionFileName;
    const std::string contacting = kContacting;
    UpdateCheckOutcome outcome = UpdateCheckOutcome::Unreachable;
    {
        RemoveOnExit cleanup(file);
        services.setStatusLine(contacting);
        fetchVersionFile(services.urlDownload, file);

        std::error_code ec;
        if (std::filesystem::is_regular_file(file, ec)) {
            services.setStatusLine(contacting + "OK");
            const std::string newest = firstItem(file);
            removeVersionFile(file);
            if (numericValue(newest) > numericValue(kVersionText)) {
                outcome = UpdateCheckOutcome::NewerVersion;
                services.messageBox.show(
                    "New version", "New version available ! Please visit our site to download",
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
    }
    services.setStatusLine("");
    return outcome;
}

}  // namespace velnoria
