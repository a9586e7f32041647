#include "download/failed_list.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <unordered_set>
#include <vector>

#include "core/replace_file.h"
#include "core/text.h"
#include "core/unique_fd.h"
#include "core/web_address.h"

namespace velnoria {

namespace {

// An address as failed.txt holds it: line ends inside it written escaped, so it stays one line.
std::string escapedLine(std::string_view url) {
    std::string line;
    for (const char c : url) {
        if (c == '\r') {
            line += "%0D";
        } else if (c == '\n') {
            line += "%0A";
        } else {
            line += c;
        }
    }
    return line;
}

// The lines of a text, at LF, CR LF or a lone CR.
std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        const std::size_t next = text.compare(end, 2, "\r\n") == 0 ? end + 2 : end + 1;
        text.remove_prefix(next);
    }
    return lines;
}

bool isListedAddress(std::string_view line) {
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) return false;
    }
    return isWebAddress(line);
}

// Whether the file ends with a line end, or is empty; true too when that cannot be read, since
// nothing can be done about it then.
bool endsWithLineEnd(int fd) {
    const long long length = fileLength(fd);
    char last = '\n';
    if (length <= 0 || ::pread(fd, &last, 1, length - 1) != 1) return true;
    return last == '\n' || last == '\r';
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
    if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
    std::unordered_set<std::string_view> seen;
    while (!text.empty()) {
        const std::size_t end = std::min(text.size(), text.find_first_of("\r\n"));
        const std::string_view line = text.substr(0, end);
        const bool crLf = end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n';
        text.remove_prefix(std::min(text.size(), end + (crLf ? 2 : 1)));
        const std::string_view address = trim(line);
        if (address.empty()) continue;
        if (!isListedAddress(address)) {
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
                       const std::vector<std::string>& newList,
                       const std::vector<std::string>& logged, std::string& error) {
    bool exists = false;
    const auto now = readWhole(folder / kFailedListName, error, &exists);
    if (!now) return false;
    if (!before.existed && !exists && newList.empty()) return true;
    std::string text;
    for (const auto& line : before.otherLines) text += line + "\r\n";
    for (const auto& line : newList) text += line + "\r\n";
    // What was appended meanwhile that the retry did not append itself; a list that someone else
    // shortened meanwhile is kept whole.
    const std::string_view appended =
        now->size() >= before.size ? std::string_view(*now).substr(before.size) : *now;
    std::multiset<std::string> ours;
    for (const auto& line : logged) ours.insert(escapedLine(line));
    for (const std::string_view line : linesOf(appended)) {
        if (line.empty()) continue;
        if (const auto found = ours.find(std::string(line)); found != ours.end()) {
            ours.erase(found);
            continue;
        }
        text += std::string(line) + "\r\n";
    }

    if (const int reason = replaceFile(folder / kFailedListName, text); reason != 0) {
        error = std::string("failed.txt cannot be replaced: ") + std::strerror(reason);
        return false;
    }
    return true;
}

bool appendToFailureLog(const std::filesystem::path& folder, std::string_view url) {
    if (url.empty()) return false;
    const UniqueFd file = openForAppend(folder / kFailedListName);
    if (!file.valid()) return false;
    // One write per line, so that the line is never split by another writer.
    const std::string line =
        (endsWithLineEnd(file.get()) ? "" : "\r\n") + escapedLine(url) + "\r\n";
    return writeAll(file.get(), line);
}

}  // namespace velnoria
