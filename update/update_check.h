#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "core/program_identity.h"
#include "platform/desktop.h"
#include "platform/url_download.h"

namespace velnoria {

// What the update check needs of the program around it.
struct UpdateCheckServices {
    // Sets the main window's status line and repaints it at once.
    std::function<void(const std::string& text)> setStatusLine;
    MessageBox& messageBox;
    Shell& shell;
    UrlDownload& urlDownload;
    // Where the version file is held for the moment of the check, in a scratch file of its own.
    std::filesystem::path scratchFolder;
};

enum class UpdateCheckOutcome { NewerVersion, NoNewerVersion, Unreachable };

// The "U" button, and the silent check at start-up (startingUp set: only a newer version is
// reported). Blocks while it fetches; leaves the status line empty and no scratch file behind.
UpdateCheckOutcome checkForUpdate(const UpdateCheckServices& services, bool startingUp);

}  // namespace velnoria
