#include "download/failed_list.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <unordered_set>

#include "core/text.h"
#include "core/unique_fd.h"

namespace velnoria {

namespace {

bool isWebAddress(std::string_view line) {
    if (!startsWithNoCase(line, "http://") && !startsWithNoCase(line, "https://")) return false;
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) return false;
    }
    return true;
}

std::optional<std::string> readWhole(const std::filesystem::path& file, std::string& error,
                                     bool* existed = nullptr) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return std::string();
    if (existed != nullptr) *existed = true;
    if (!std::filesystem::is_regular_file(file, ec)) {
        error = file.filename().string() + " is not a file";
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = file.filename().string() + " cannot be read: " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char block[64 * 1024];
    while (in && text.size() <= kFailedListLimit) {
        in.read(block, sizeof block);
        text.append(block, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        error = file.filename().string() + " cannot be read";
        return std::nullopt;
    }
    if (text.size() > kFailedListLimit) {
        error = file.filename().string() + " is larger than 64 MiB: no list of addresses";
        return std::nullopt;
    }
    return text;
}

}  // namespace

FailedList parseFailedList(std::string_view text) {
    FailedList list;
    list.size = text.size();
    std::unordered_set<std::string_view> seen;
    while (!text.empty()) {
        const std::size_t end = std::min(text.size(), text.find('\n'));
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(text.size(), end + 1));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string_view address = trim(line);
        if (address.empty()) continue;
        if (!isWebAddress(address)) {
            list.otherLines.emplace_back(line);
        } else if (seen.insert(address).second) {
            list.addresses.emplace_back(address);
        }
    }
    return list;
}

std::optional<FailedList> readFailedList(const std::filesystem::path& folder, std::string& error) {
    bool existed = false;
    const auto text = readWhole(folder / kFailedListName, error, &existed);
    if (!text) return std::nullopt;
    FailedList list = parseFailedList(*text);
    list.existed = existed;
    return list;
}

bool replaceFailedList(const std::filesystem::path& folder, const FailedList& before,
                       const std::vector<std::string>& notTried, std::string& error) {
    bool exists = false;
    const auto now = readWhole(folder / kFailedListName, error, &exists);
    if (!now) return false;
    if (!before.existed && !exists && notTried.empty()) return true;
    std::string text;
    for (const auto& line : before.otherLines) text += line + "\r\n";
    for (const auto& address : notTried) text += address + "\r\n";
    // What the retry appended; a list that someone else shortened meanwhile is kept whole.
    text += now->size() >= before.size ? now->substr(before.size) : *now;

    std::string temporary = (folder / kFailedListName).string() + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = std::string("a new failed.txt cannot be written: ") + std::strerror(errno);
        return false;
    }
    UniqueFd file(fd);
    // The list keeps the permissions it had (or those a new file gets).
    struct stat old {};
    if (::stat((folder / kFailedListName).c_str(), &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    if (!writeAll(fd, text) || ::fsync(fd) != 0) {
        error = std::string("a new failed.txt cannot be written: ") + std::strerror(errno);
        file.reset();
        ::unlink(temporary.c_str());
        return false;
    }
    file.reset();
    if (::rename(temporary.c_str(), (folder / kFailedListName).c_str()) != 0) {
        error = std::string("failed.txt cannot be replaced: ") + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace velnoria
