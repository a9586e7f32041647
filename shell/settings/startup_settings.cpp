#include "shell/settings/startup_settings.h"

#include <system_error>

#include "shell/settings/settings_file.h"

namespace velnoria {

Settings loadStartupSettings(const std::filesystem::path& currentFolder,
                             const StartupErrorReport& reportError) {
    namespace fs = std::filesystem;
    const fs::path file = currentFolder / kSettingsFileName;
    std::error_code ec;

    Settings settings;
    if (fs::exists(file, ec)) {
        // A file that is there but cannot be read keeps the defaults and is not overwritten.
        if (auto read = readSettingsFile(file)) settings = *read;
    } else {
        writeSettingsFile(file, settings);
    }

    if (settings.savePath.empty()) settings.savePath = Settings::kCurrentFolderToken;
    const std::string defaultFolder = currentFolder.string() + "/images";
    if (settings.savePath == Settings::kCurrentFolderToken) settings.savePath = defaultFolder;

    if (!fs::exists(fs::path(settings.savePath), ec)) {
        if (reportError) reportError(kSavePathMissingMessage);
        // On read-only media this fails; the first job then logs its files as failed.
        if (!fs::exists(fs::path(defaultFolder), ec)) fs::create_directory(defaultFolder, ec);
    }
    return settings;
}

}  // namespace velnoria
