#include "core/job_options_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "core/text.h"
#include "core/unique_fd.h"

namespace velnoria {

namespace {

// Like "settings.dat", a small file: reading stops here.
constexpr std::size_t kReadLimit = 64 * 1024;

struct Entry {
    std::string_view key;  // "" for a comment, a blank line or a line without "="
    std::string_view value;
    std::string_view line;
};

std::vector<Entry> entries(std::string_view text) {
    std::vector<Entry> out;
    while (!text.empty()) {
        const std::size_t end = std::min(text.size(), text.find('\n'));
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(text.size(), end + 1));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        Entry entry{{}, {}, line};
        const std::string_view content = trim(line);
        const std::size_t equals = content.find('=');
        if (!content.empty() && content.front() != '#' && equals != std::string_view::npos) {
            entry.key = trim(content.substr(0, equals));
            entry.value = trim(content.substr(equals + 1));
        }
        out.push_back(entry);
    }
    return out;
}

std::optional<bool> yesNo(std::string_view value) {
    if (sameNoCase(value, "true") || sameNoCase(value, "yes") || value == "1") return true;
    if (sameNoCase(value, "false") || sameNoCase(value, "no") || value == "0") return false;
    return std::nullopt;
}

}  // namespace

JobOptions parseJobOptions(std::string_view text) {
    JobOptions options;
    for (const Entry& entry : entries(text)) {
        if (entry.key == kFollowNextPagesKey) {
            if (const auto yes = yesNo(entry.value)) options.allPages = *yes;
        } else if (entry.key == kSkipExistingKey) {
            if (const auto yes = yesNo(entry.value)) options.skipExisting = *yes;
        } else if (entry.key == kDownloadsAtOnceKey) {
            const std::string digits(entry.value);
            if (!digits.empty() && digits.size() <= 2 &&
                digits.find_first_not_of("0123456789") == std::string::npos) {
                const int count = std::stoi(digits);
                if (count >= 1 && count <= JobOptions::kLargestParallel) options.parallel = count;
            }
        }
    }
    return options;
}

std::string withJobOptions(std::string_view text, const JobOptions& options) {
    const std::pair<std::string_view, std::string> wanted[] = {
        {kFollowNextPagesKey, options.allPages ? "true" : "false"},
        {kSkipExistingKey, options.skipExisting ? "true" : "false"},
        {kDownloadsAtOnceKey, std::to_string(options.parallel)},
    };
    bool written[3] = {false, false, false};
    std::string out;
    for (const Entry& entry : entries(text)) {
        bool ours = false;
        for (std::size_t k = 0; k < 3; ++k) {
            if (entry.key != wanted[k].first) continue;
            ours = true;
            if (!written[k]) {
                out += std::string(wanted[k].first) + " = " + wanted[k].second + "\n";
                written[k] = true;
            }
        }
        if (!ours) out += std::string(entry.line) + "\n";
    }
    for (std::size_t k = 0; k < 3; ++k) {
        if (!written[k]) out += std::string(wanted[k].first) + " = " + wanted[k].second + "\n";
    }
    return out;
}

JobOptions readJobOptions(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return {};
    std::ifstream in(file, std::ios::binary);
    std::string text(kReadLimit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return parseJobOptions(text);
}

bool writeJobOptions(const std::filesystem::path& file, const JobOptions& options) {
    std::string old;
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) {
        if (!std::filesystem::is_regular_file(file, ec)) return false;
        std::ifstream in(file, std::ios::binary);
        if (!in) return false;
        old.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const std::string text = withJobOptions(old, options);
    std::string temporary = file.string() + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return false;
    UniqueFd out(fd);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
    out.reset();
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace velnoria
