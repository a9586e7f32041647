#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// How the per-file download judges an answer and says why an attempt failed: the texts of the
// log, and the few header values it reads beyond the length.

namespace velnoria {

inline constexpr int kAttempts = 3;
inline constexpr int kLargestCount = 32767;  // the finished count is a 16-bit number
// An answer without a length is taken up to the largest length an answer may announce, so an
// endless body cannot fill the disk.
inline constexpr std::uint64_t kLargestUnannouncedBody = 2147483647;
inline constexpr const char* kHtmlAnswer = "not an image: HTML page";
// The longest pause a server's Retry-After may put before the next attempt.
inline constexpr std::chrono::seconds kLongestRetryPause{60};

std::string cannotWrite(int error);

// Why the headers of an image's answer fail the attempt: an HTTP error status, a marker of a
// failed answer, an HTML document. "" when they do not.
std::string answerProblem(std::string_view headerBlock);

// Why a body whose length was announced is not whole: "W of E bytes"; "" when it is.
std::string lengthProblem(long long written, std::int64_t expected);

// The log text that ends an attempt: "OK", or "FAILED (REASON)" and what comes next.
std::string attemptEndText(const std::string& reason, int attempt);

// The log text of an address that is not http(s); nothing is asked for.
std::string notWebAddressText(const std::string& displayName);

// A Content-Range of a partial answer: "bytes FIRST-LAST/COMPLETE" (COMPLETE may be "*").
struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::optional<std::uint64_t> complete;
};
std::optional<ContentRange> readContentRange(std::string_view value);

// How long a 429 or 503 answer asks the client to wait (Retry-After: seconds or an HTTP date,
// taken against `now`), at most kLongestRetryPause; none for other answers or a value that
// cannot be read, or one already past.
std::optional<std::chrono::seconds> retryPause(std::string_view headerBlock,
                                               std::chrono::system_clock::time_point now);

}  // namespace velnoria
