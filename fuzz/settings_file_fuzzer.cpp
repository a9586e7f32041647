// The settings reader on any bytes: values always in range after the fall-backs, plain numbers
// read as written, what is written read back unchanged, and a file cut short read like the
// lines it finished.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"
#include "core/unique_fd.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace velnoria;

// The first three lines (ended by LF, CR LF or a lone CR).
std::vector<std::string_view> firstLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty() && lines.size() < 3) {
        const auto end = text.find_first_of("\r\n");
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1));
    }
    return lines;
}

// A line that is only decimal digits with spaces or tabs around them, and their value.
std::optional<std::int64_t> plainNumber(std::string_view line) {
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::nullopt;
    const auto digits = line.substr(first, line.find_last_not_of(" \t") - first + 1);
    if (digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    const auto significant = digits.find_first_not_of('0');
    if (significant == std::string_view::npos) return 0;
    if (digits.size() - significant > 12) return std::numeric_limits<std::int64_t>::max();
    return std::stoll(std::string(digits.substr(significant)));
}

void checkInRange(const Settings& s, std::string_view text) {
    FUZZ_CHECK(s.timeoutSeconds >= 0 && s.timeoutSeconds <= 255);
    FUZZ_CHECK(s.pieceSize >= 1);
    FUZZ_CHECK(!s.savePath.empty());
    FUZZ_CHECK(s.savePath.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
    FUZZ_CHECK(s.savePath.front() != ' ' && s.savePath.front() != '\t');
    if (s.savePath != Settings::kCurrentFolderToken) FUZZ_CHECK(fuzz::isInside(text, s.savePath));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const bool cutShort = data.ConsumeBool();
    const std::string text = data.ConsumeRemainingBytesAsString();

    const Settings read = parseSettingsText(text, cutShort);
    checkInRange(read, text);

    // Plain numbers in range are taken as they stand; out of range they give the defaults.
    const auto lines = firstLines(text);
    const Settings defaults;
    if (!cutShort && lines.size() >= 2) {
        if (const auto timeout = plainNumber(lines[1])) {
            FUZZ_CHECK(read.timeoutSeconds ==
                       (*timeout <= 255 ? *timeout : defaults.timeoutSeconds));
        }
    }
    if (!cutShort && lines.size() >= 3) {
        if (const auto piece = plainNumber(lines[2])) {
            FUZZ_CHECK(read.pieceSize ==
                       (*piece >= 1 && *piece <= INT32_MAX ? *piece : defaults.pieceSize));
        }
    }

    // Whatever was read can be written and read back as it was.
    const std::string written = settingsFileText(read);
    FUZZ_CHECK(parseSettingsText(written) == read);
    FUZZ_CHECK(parseSettingsText(written, true) == read);

    // Cut short, only the finished lines count.
    const auto lastEnd = text.find_last_of("\r\n");
    const std::string finished = lastEnd == std::string::npos ? "" : text.substr(0, lastEnd + 1);
    FUZZ_CHECK(parseSettingsText(text, true) == parseSettingsText(finished, false));

    // The file on disk reads as its text.
    if (!cutShort) {
        const auto file = fuzz::workFolder() / "settings.dat";
        {
            UniqueFd out = openForWriting(file);
            FUZZ_CHECK(out.valid() && writeAll(out.get(), text));
        }
        const auto fromFile = readSettingsFile(file);
        FUZZ_CHECK(fromFile.has_value());
        if (text.size() <= kSettingsReadLimit) FUZZ_CHECK(*fromFile == read);
        checkInRange(*fromFile, text);
    }
    return 0;
}
