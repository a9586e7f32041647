#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velnoria {

// The user's choices beyond the three values of "settings.dat", kept in a file of their own
// beside it so that "settings.dat" keeps its three lines. One "key = value" per line; lines
// starting with "#" and blank lines are comments. New choices join as new keys.
struct Choices {
    std::string rulesFile;         // the host rules file; "" = none (the built-in table alone)
    bool linkedImages = false;     // also save full-size images that thumbnails link to
    bool followNextPages = false;  // the job reads the thread's next pages (rel="next")
    bool skipExisting = false;     // a file already saved whole is not fetched again
    int downloadsAtOnce = 1;       // image downloads at once, 1 to kMostDownloadsAtOnce
    bool rememberSaved = false;    // keep an archive of what was saved and skip it next time
    std::string folderTemplate;    // the folder of each thread below the save folder; "" = none
    std::string nameTemplate;      // the name of each file; "" = the name the rule gave
    int watchMinutes = 0;          // check the thread again after so many minutes; 0 = never

    // Keys this program does not know (written by a newer one), kept in order as read so that
    // saving the choices does not lose them.
    std::vector<std::pair<std::string, std::string>> otherKeys;

    bool operator==(const Choices&) const = default;
};

inline constexpr const char* kChoicesFileName = "choices.conf";
inline constexpr std::string_view kRulesFileKey = "rules-file";
inline constexpr std::string_view kLinkedImagesKey = "linked-images";
inline constexpr std::string_view kFollowNextPagesKey = "follow-next-pages";
inline constexpr std::string_view kSkipExistingKey = "skip-existing";
inline constexpr std::string_view kDownloadsAtOnceKey = "downloads-at-once";
inline constexpr std::string_view kRememberSavedKey = "remember-saved";
inline constexpr std::string_view kFolderTemplateKey = "folder-template";
inline constexpr std::string_view kNameTemplateKey = "name-template";
inline constexpr std::string_view kWatchMinutesKey = "watch-minutes";

inline constexpr int kMostDownloadsAtOnce = 16;
// The longest wait between two checks of a watched thread: a week.
inline constexpr int kLongestWatchMinutes = 7 * 24 * 60;
// The pages of a thread one job reads at most: by default, and the most that may be asked for.
inline constexpr int kDefaultMaxPages = 50;
inline constexpr int kLargestMaxPages = 100000;

// Like "settings.dat", a small file: reading stops here.
inline constexpr std::size_t kChoicesReadLimit = 64 * 1024;

// The file's text, LF line ends.
std::string choicesFileText(const Choices& choices);

// The choices from a file's text. Blanks around keys and values are ignored, the last of a
// repeated key counts, a value that cannot be read leaves its default, a line without "=" is
// passed over; unknown keys are kept.
Choices parseChoicesText(std::string_view text);

// Reads the file; nullopt when it is missing, not a regular file or cannot be read. A file
// larger than the read limit is read as far as its last whole line within the limit.
std::optional<Choices> readChoicesFile(const std::filesystem::path& file);

// Replaces the file through a new file renamed over it, so that a failed write never leaves half
// a file. False when it could not be written, or when a value holds a line end or a NUL (it
// could not be read back), or a number is out of its range.
bool writeChoicesFile(const std::filesystem::path& file, const Choices& choices);

}  // namespace velnoria
