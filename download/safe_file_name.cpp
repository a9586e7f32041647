#include "download/safe_file_name.h"

#include <unistd.h>

#include <algorithm>

#include "core/printable.h"
#include "core/text.h"

namespace velnoria {

namespace {

// The program's own files in the work folder: a download never takes their place, nor leaves one
// in a save folder where a later run started there would read it. choices.conf names the rules
// file, so a planted one would choose the next run's rules. SQLite takes a file beside the
// archive named "-wal" or "-journal" for changes still to be made to it, so a planted one would
// write into the archive.
constexpr std::string_view kProgramFiles[] = {
    "settings.dat",       "failed.txt",         "choices.conf",           "archive.sqlite",
    "archive.sqlite-wal", "archive.sqlite-shm", "archive.sqlite-journal",
};

// Where the extension of a name begins: its last ".", unless that is its first character.
std::size_t extensionStart(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? name.size() : dot;
}

// The longest start of UTF-8 text that is at most `most` bytes and ends between characters.
std::string_view utf8Start(std::string_view text, std::size_t most) {
    if (text.size() <= most) return text;
    std::size_t cut = most;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

// The name cut to at most `most` bytes, its extension kept when that is short enough.
std::string shortened(std::string_view name, std::size_t most) {
    std::size_t cut = extensionStart(name);
    const std::size_t extension = name.size() - cut;
    if (extension > kLongestKeptExtension || extension >= most / 2) cut = name.size();
    const std::string_view stem = utf8Start(name.substr(0, cut), most - (name.size() - cut));
    return std::string(stem) + std::string(name.substr(cut));
}

}  // namespace

std::size_t longestFileName(const std::filesystem::path& folder) {
    const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return longest > 0 ? static_cast<std::size_t>(longest) : kLongestFileName;
}

SafeName safeName(std::string_view name, std::size_t longest) {
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    if (name.empty() || name == "." || name == ".." || !isControlFreeUtf8(name)) return {};
    SafeName safe;
    // Room for a number, and for the "_" before one of the program's own names.
    const std::size_t most = longest - std::min(kNumberRoom, longest / 2);
    safe.shortened = name.size() > most;
    safe.name = safe.shortened ? shortened(name, most) : std::string(name);
    if (safe.name.empty()) return {};
    if (safe.name.front() == '.') safe.name.front() = '_';
    for (const std::string_view own : kProgramFiles) {
        if (sameNoCase(safe.name, own)) safe.name.insert(0, "_");
    }
    return safe;
}

std::string safeFileName(std::string_view name, std::size_t longest) {
    return safeName(name, longest).name;
}

std::string unusedName(const std::string& name,
                       const std::function<bool(const std::string&)>& taken, std::size_t longest) {
    if (!taken(name)) return name;
    const std::size_t cut = extensionStart(name);
    const std::string_view stem = std::string_view(name).substr(0, cut);
    const std::string_view extension = std::string_view(name).substr(cut);
    for (unsigned long n = 2;; ++n) {
        const std::string number = " (" + std::to_string(n) + ")";
        const std::size_t room = number.size() + extension.size();
        std::string candidate(room < longest ? utf8Start(stem, longest - room) : stem);
        candidate += number;
        candidate += extension;
        if (!taken(candidate)) return candidate;
    }
}

}  // namespace velnoria
