#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "download/settings.h"

namespace velnoria {

inline constexpr const char* kSettingsFileName = "settings.dat";
inline constexpr const char* kSavePathMissingMessage = "Error: save path does not exist ! ";

// Receives the start-up's one error text; the desktop shows it in a box titled "Error" with the
// stop icon and returns once it is closed, the command line prints it.
using StartupErrorReport = std::function<void(const std::string& text)>;

// The settings as both programs start with them: "settings.dat" in currentFolder is read, or
// created with the defaults; an empty save path or the token becomes currentFolder + "/images";
// when nothing exists at the save path, the error is reported and currentFolder + "/images" is
// created if missing. Never throws for a file or folder that cannot be written.
Settings loadStartupSettings(const std::filesystem::path& currentFolder,
                             const StartupErrorReport& reportError);

}  // namespace velnoria
