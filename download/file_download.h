#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/temporary_file.h"
#include "core/web_address.h"
#include "download/job_context.h"

// What a file download is, whether one at a time (fetch_file) or several at once
// (parallel_downloads): the name it is saved under, how an answer is judged and why it fails,
// how a finished file takes its place. Both paths use these, so their results are the same.

namespace velnoria {

inline constexpr int kAttempts = 3;
inline constexpr int kLargestCount = 32767;  // the finished count is a 16-bit number
// An answer without a length is taken up to the largest length an answer may announce, so an
// endless body cannot fill the disk.
inline constexpr std::uint64_t kLargestUnannouncedBody = 2147483647;
inline constexpr const char* kHtmlAnswer = "not an image: HTML page";

std::string cannotWrite(int error);

// The name this job saves target under: made safe, then numbered (" (2)" ...) when this job has
// saved another address under it. The same address again keeps the name it had. "" when the
// name is not usable.
std::string jobFileName(const JobContext& job, const DownloadTarget& target);

// What the log shows of a file name.
std::string displayedName(const std::string& fileName);

// The name with every " (N)" before its extension taken off: two names whose numbered forms can
// meet have the same family.
std::string nameFamily(const std::string& fileName);

// True when nothing at all stands under that path: a failed attempt may leave its bytes there.
bool nameIsFree(const std::filesystem::path& target);

// Why nothing can be saved under the target's name before anything is asked for; "" when it can.
std::string targetProblem(const std::string& fileName, const std::filesystem::path& target);

// Why the headers of an image's answer fail the attempt (its body is still read and written):
// an HTTP error status, a marker of a failed answer, an HTML document. "" when they do not.
std::string answerProblem(std::string_view headerBlock);

// Why a body whose length was announced is not whole: "W of E bytes"; "" when it is.
std::string lengthProblem(long long written, std::int64_t expected);

// The log text that ends an attempt: "OK", or "FAILED (REASON)" and what comes next.
std::string attemptEndText(const std::string& reason, int attempt);

// The log text of an address that is not http(s); nothing is asked for.
std::string notWebAddressText(const std::string& displayName);

// A file saved whole: counted, and its name kept for the rest of the job.
void noteSaved(JobContext& job, const std::string& fileName, const std::string& url);

// The bytes of one attempt on their way to the target: a temporary file beside it, made when the
// first byte is to be written, renamed over the target only when the attempt succeeds. So a
// failed or stopped attempt never replaces a file that was there before.
class AttemptFile {
  public:
    explicit AttemptFile(std::filesystem::path target) : target_(std::move(target)) {}

    bool isOpen() const { return file_.has_value(); }
    int error() const { return error_; }

    bool open();
    bool write(std::string_view bytes);
    long long length() const;

    // The finished file under the target's name; false (error() tells why) when it cannot be.
    bool keep();
    // A failed or stopped attempt: what it wrote stays under the target's name only when no file
    // had that name before (as a failed download always left its bytes), else it goes.
    void abandon(bool keepWhatWasWritten);

  private:
    std::filesystem::path target_;
    std::optional<TemporaryFile> file_;
    int error_ = 0;
};

}  // namespace velnoria
