#include "core/settings.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <limits>
#include <system_error>
#include <vector>

#include "core/number_reading.h"
#include "core/replace_file.h"
#include "core/text.h"
#include "core/unique_fd.h"

namespace velnoria {

namespace {

struct Line {
    std::string_view text;
    bool ended = false;  // a line end followed it
};

// Lines end at LF, CR LF or a lone CR.
std::vector<Line> splitLines(std::string_view text, std::size_t maxLines) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < text.size() && lines.size() < maxLines) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back({text.substr(start), false});
            break;
        }
        lines.push_back({text.substr(start, end - start), true});
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    return lines;
}

// One number that fills the whole line apart from blanks around it; rounded like the dialog.
std::optional<double> wholeLineNumber(std::string_view line) {
    const std::string_view item = trim(line);
    if (item.empty()) return std::nullopt;
    const LeadingNumber number = readLeadingNumber(item);
    if (number.length != item.size()) return std::nullopt;
    return roundHalfEven(number.value);
}

}  // namespace

std::string settingsFileText(const Settings& settings) {
    const std::int64_t piece = settings.pieceSize;
    std::string text = settings.savePath;
    text += "\r\n ";
    text += std::to_string(settings.timeoutSeconds);
    text += " \r\n";
    text += piece < 0 ? "-" : " ";
    text += std::to_string(piece < 0 ? -piece : piece);
    text += " \r\n";
    return text;
}

Settings parseSettingsText(std::string_view text, bool cutShort) {
    Settings settings;
    const std::vector<Line> lines = splitLines(text, 3);
    auto usable = [&](std::size_t index) {
        return index < lines.size() && (lines[index].ended || !cutShort);
    };

    if (usable(0)) {
        std::string_view path = lines[0].text;
        path.remove_prefix(std::min(path.size(), path.find_first_not_of(kBlanks)));
        // A NUL cannot stand in a path: such a line is damage, not a folder.
        if (!path.empty() && path.find('\0') == std::string_view::npos) {
            settings.savePath = std::string(path);
        }
    }
    if (usable(1)) {
        const auto timeout = wholeLineNumber(lines[1].text);
        if (timeout && *timeout >= 0 && *timeout <= 255) {
            settings.timeoutSeconds = static_cast<int>(*timeout);
        }
    }
    if (usable(2)) {
        const auto piece = wholeLineNumber(lines[2].text);
        if (piece && *piece >= 1 && *piece <= std::numeric_limits<std::int32_t>::max()) {
            settings.pieceSize = static_cast<std::int32_t>(*piece);
        }
    }
    return settings;
}

std::optional<Settings> readSettingsFile(const std::filesystem::path& file) {
    // A folder or a pipe of that name is no settings file (and a pipe could block the start).
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(kSettingsReadLimit + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) return std::nullopt;
    text.resize(static_cast<std::size_t>(in.gcount()));
    const bool cutShort = text.size() > kSettingsReadLimit;
    if (cutShort) text.resize(kSettingsReadLimit);
    return parseSettingsText(text, cutShort);
}

namespace {

// The old file's bytes are emptied before the new ones are in: only for a folder in which no
// file can be made beside it. A link at file is followed.
bool writeInPlace(const std::filesystem::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    return !out.fail();
}

}  // namespace

bool writeSettingsFile(const std::filesystem::path& file, const Settings& settings) {
    const std::string text = settingsFileText(settings);
    // Written beside it first, so that a full disk leaves the old settings whole.
    const int error = replaceFile(file, text);
    return error == 0 || (error == EACCES && writeInPlace(file, text));
}

std::string defaultSaveFolder(const std::filesystem::path& currentFolder) {
    return currentFolder.string() + "/images";
}

Settings readStartupSettings(const std::filesystem::path& currentFolder) {
    const std::filesystem::path file = currentFolder / kSettingsFileName;
    std::error_code ec;
    Settings settings;
    // A file that is there but cannot be read keeps the defaults.
    if (std::filesystem::exists(file, ec)) {
        if (auto read = readSettingsFile(file)) settings = *read;
    }
    if (settings.savePath.empty() || settings.savePath == Settings::kCurrentFolderToken) {
        settings.savePath = defaultSaveFolder(currentFolder);
    }
    return settings;
}

Settings loadStartupSettings(const std::filesystem::path& currentFolder,
                             const StartupErrorReport& reportError) {
    namespace fs = std::filesystem;
    const fs::path file = currentFolder / kSettingsFileName;
    std::error_code ec;

    // A file that is there but cannot be read is not overwritten.
    if (!fs::exists(file, ec)) writeSettingsFile(file, Settings{});
    Settings settings = readStartupSettings(currentFolder);

    if (!fs::exists(fs::path(settings.savePath), ec)) {
        if (reportError) reportError(kSavePathMissingMessage);
        // On read-only media this fails; the job then says why the folder cannot be used.
        const std::string defaultFolder = defaultSaveFolder(currentFolder);
        if (!fs::exists(fs::path(defaultFolder), ec)) fs::create_directory(defaultFolder, ec);
    }
    return settings;
}

SettingsDialogInput readSettingsDialogInput(std::string_view timeoutText,
                                            std::string_view pieceSizeText) {
    SettingsDialogInput input;
    const double timeout = roundHalfEven(numericValue(timeoutText));
    const double piece = roundHalfEven(numericValue(pieceSizeText));
    if (!(timeout >= 0 && timeout <= 255)) {
        input.errorText = "The time-out must be from 0 to 255 seconds.";
        return input;
    }
    if (!(piece >= 1 && piece <= std::numeric_limits<std::int32_t>::max())) {
        input.errorText = "The piece size must be from 1 to 2147483647 bytes.";
        return input;
    }
    input.accepted = true;
    input.timeoutSeconds = static_cast<int>(timeout);
    input.pieceSize = static_cast<std::int32_t>(piece);
    return input;
}

}  // namespace velnoria
