#include "download/safe_file_name.h"

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

}  // namespace

std::string safeFileName(std::string_view name) {
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    if (name.empty() || name == "." || name == ".." || !isPrintableUtf8(name)) return {};
    std::string safe(name);
    if (safe.front() == '.') safe.front() = '_';
    for (const std::string_view own : kProgramFiles) {
        if (sameNoCase(safe, own)) return "_" + safe;
    }
    return safe;
}

std::string unusedName(const std::string& name,
                       const std::function<bool(const std::string&)>& taken) {
    if (!taken(name)) return name;
    const std::size_t dot = name.rfind('.');
    const std::size_t cut = dot == std::string::npos || dot == 0 ? name.size() : dot;
    for (unsigned long n = 2;; ++n) {
        std::string candidate =
            name.substr(0, cut) + " (" + std::to_string(n) + ")" + name.substr(cut);
        if (!taken(candidate)) return candidate;
    }
}

}  // namespace velnoria
