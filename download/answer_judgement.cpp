#include "download/answer_judgement.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "core/text.h"

namespace velnoria {

namespace {

std::optional<std::uint64_t> readDecimal(std::string_view text) {
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) value = value * 10 + static_cast<std::uint64_t>(c - '0');
    return value;
}

// An HTTP date in the preferred form, "Sun, 06 Nov 1994 08:49:37 GMT".
std::optional<std::time_t> readHttpDate(const std::string& text) {
    std::tm parts{};
    const char* end = ::strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &parts);
    if (end == nullptr || *end != '\0') return std::nullopt;
    return ::timegm(&parts);
}

}  // namespace

std::string cannotWrite(int error) {
    return "cannot write: " + std::string(std::strerror(error));
}

std::string answerProblem(std::string_view headerBlock) {
    if (const int status = statusCode(headerBlock); status >= 400) {
        return "HTTP " + std::to_string(status);
    }
    if (headerBlock.find("500 Internal Server Error") != std::string_view::npos) {
        return "server error: 500 Internal Server Error";
    }
    if (headerBlock.find("Unable to complete request") != std::string_view::npos) {
        return "server error: Unable to complete request";
    }
    if (isHtmlMediaType(headerValue(headerBlock, "Content-Type"))) return kHtmlAnswer;
    return {};
}

std::string lengthProblem(long long written, std::int64_t expected) {
    if (written == expected) return {};
    return std::to_string(std::max(written, 0LL)) + " of " + std::to_string(expected) + " bytes";
}

std::string attemptEndText(const std::string& reason, int attempt) {
    if (reason.empty()) return "OK\r\n";
    return "FAILED (" + reason + ")\r\n" +
           (attempt < kAttempts - 1 ? "RESTART DOWNLOAD.\r\n" : "FAILURE LOGGED.\r\n");
}

std::string notWebAddressText(const std::string& displayName) {
    // Nothing can come of asking: said once.
    return "Downloading file " + displayName +
           "...FAILED (not a web address)\r\nFAILURE LOGGED.\r\n";
}

std::optional<ContentRange> readContentRange(std::string_view value) {
    value = trim(value, " \t");
    if (!startsWithNoCase(value, "bytes ")) return std::nullopt;
    value = trim(value.substr(6), " \t");
    const auto dash = value.find('-');
    const auto slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) {
        return std::nullopt;
    }
    ContentRange range;
    const auto first = readDecimal(value.substr(0, dash));
    const auto last = readDecimal(value.substr(dash + 1, slash - dash - 1));
    if (!first || !last || *last < *first) return std::nullopt;
    range.first = *first;
    range.last = *last;
    const std::string_view complete = value.substr(slash + 1);
    if (complete != "*") {
        range.complete = readDecimal(complete);
        if (!range.complete || *range.complete <= range.last) return std::nullopt;
    }
    return range;
}

std::optional<std::chrono::seconds> retryPause(std::string_view headerBlock,
                                               std::chrono::system_clock::time_point now) {
    const int status = statusCode(headerBlock);
    if (status != 429 && status != 503) return std::nullopt;
    const std::string value = headerValue(headerBlock, "Retry-After");
    std::optional<std::chrono::seconds> pause;
    if (const auto seconds = readDecimal(value)) {
        pause = std::chrono::seconds(std::min<std::uint64_t>(*seconds, 1u << 30));
    } else if (const auto date = readHttpDate(value)) {
        pause = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::system_clock::from_time_t(*date) - now);
    }
    if (!pause || pause->count() <= 0) return std::nullopt;
    return std::min(*pause, kLongestRetryPause);
}

}  // namespace velnoria
