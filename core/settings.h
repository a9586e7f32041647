#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velnoria {

// The three program-wide settings, as "settings.dat" keeps them.
struct Settings {
    static constexpr const char* kCurrentFolderToken = "CURDIR$\\images";
    static constexpr int kDefaultTimeoutSeconds = 30;
    static constexpr std::int32_t kDefaultPieceSize = 102400;

    std::string savePath = kCurrentFolderToken;   // expanded at start-up
    int timeoutSeconds = kDefaultTimeoutSeconds;  // 0 to 255
    std::int32_t pieceSize = kDefaultPieceSize;   // always positive

    bool operator==(const Settings&) const = default;
};

inline constexpr const char* kSettingsFileName = "settings.dat";
inline constexpr const char* kSavePathMissingMessage = "Error: save path does not exist ! ";

// "settings.dat" is a handful of bytes; reading stops here so a huge or binary file cannot eat
// memory.
inline constexpr std::size_t kSettingsReadLimit = 64 * 1024;

// --- The file ---

// The file's bytes: the save path, then the time-out and the piece size, each number with one
// blank before it (the minus sign in its place when negative) and one after, every line ended
// by CR LF.
std::string settingsFileText(const Settings& settings);

// The three values from the file's text. The first line is the save path whole (leading blanks
// skipped, commas ordinary); the next two lines hold one number each. A value that is missing,
// unreadable or out of range falls back to its default on its own. cutShort tells that the text
// is only the beginning of a longer file, so its unfinished last line does not count.
Settings parseSettingsText(std::string_view text, bool cutShort = false);

// Reads the file; nullopt when it is not a regular file or cannot be opened.
std::optional<Settings> readSettingsFile(const std::filesystem::path& file);

// Replaces the file with the three values; false when it could not be written whole.
bool writeSettingsFile(const std::filesystem::path& file, const Settings& settings);

// --- Start-up ---

// Receives the start-up's one error text; the desktop shows it in a box titled "Error" with the
// stop icon and returns once it is closed, the command line prints it.
using StartupErrorReport = std::function<void(const std::string& text)>;

// currentFolder + "/images", where the images go unless the settings name another folder.
std::string defaultSaveFolder(const std::filesystem::path& currentFolder);

// The settings "settings.dat" in currentFolder holds (the defaults when it is missing or cannot
// be read), an empty save path or the token expanded to the default save folder. Writes nothing.
Settings readStartupSettings(const std::filesystem::path& currentFolder);

// The settings as both programs start with them: "settings.dat" in currentFolder is read, or
// created with the defaults; an empty save path or the token becomes currentFolder + "/images";
// when nothing exists at the save path, the error is reported and currentFolder + "/images" is
// created if missing. Never throws for a file or folder that cannot be written.
Settings loadStartupSettings(const std::filesystem::path& currentFolder,
                             const StartupErrorReport& reportError);

// --- The Settings dialog's two number boxes ---

struct SettingsDialogInput {
    bool accepted = false;       // false: show errorText in a box titled "Error", keep the dialog
    int timeoutSeconds = 0;      // 0 to 255 when accepted
    std::int32_t pieceSize = 0;  // 1 or more when accepted
    std::string errorText;
};

// Each box is read with numericValue() and rounded half to even; a time-out outside 0 to 255 or
// a piece size below 1 or beyond 2147483647 is refused, since the download needs a positive
// piece size.
SettingsDialogInput readSettingsDialogInput(std::string_view timeoutText,
                                            std::string_view pieceSizeText);

}  // namespace velnoria
