#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/temporary_file.h"
#include "core/text.h"
#include "core/web_address.h"
#include "download/job_context.h"
#include "download/sha256.h"
#include "download/transfer_slots.h"
#include "platform/transfer_engine.h"

// The per-file download: one routine for a file, whether files come one at a time or several at
// once. It names the file, makes up to three attempts on the job's transfers, judges each answer,
// writes the body into a temporary file beside the target and puts it in place only when whole,
// and logs each attempt with the reason of a failure.

namespace velnoria {

// The name this job saves target under in its folder: made safe, then numbered (" (2)" ...)
// when this job has saved another address under it (or, for a job that never replaces, when
// anything stands under it). The same address again keeps the name it had. "" when the name is
// not usable. `shortened` tells whether the name had to be cut to fit the file system.
std::string jobFileName(const JobContext& job, const DownloadTarget& target,
                        bool* shortened = nullptr);

// The folder a target is saved in: the save folder, or the folder below it the template made.
std::filesystem::path targetFolder(const JobContext& job, const DownloadTarget& target);

// Makes the folder `below` (parts joined by "/") inside `top`, part by part, never through a
// link: nothing is made outside `top`. "" when it stands, else why it cannot.
std::string makeFolderBelow(const std::filesystem::path& top, const std::string& below);

// What the log shows of a file name.
std::string displayedName(const std::string& fileName);

// The name with every " (N)" before its extension taken off: two names whose numbered forms can
// meet have the same family.
std::string nameFamily(const std::string& fileName);

// Why nothing can be saved under the target's name before anything is asked for; "" when it can.
std::string targetProblem(const std::string& fileName, const std::filesystem::path& target);

// A file saved whole (or found saved already): its name (in its folder below the save folder)
// kept for the rest of the job.
void claimName(JobContext& job, const std::string& folder, const std::string& fileName,
               const std::string& url);

// The bytes of a file on their way to the target: a temporary file beside it, made when the
// first byte is to be written, renamed over the target only when the file is whole. It outlives
// an attempt, so the next one may ask only for the rest. Whatever becomes of the file, nothing
// is ever left under the target's name but a whole file, and a file that stood there before is
// replaced only by a whole one.
class AttemptFile {
  public:
    // Where the file goes once whole; set before the first byte is written.
    void aim(const std::filesystem::path& target) { target_ = target; }

    int error() const { return error_; }
    bool open();
    bool write(std::string_view bytes);
    long long length() const;
    // Empties the file: the next bytes are the start of the file again.
    bool truncate();

    // The whole file under the target's name; false (error() tells why) when it cannot be.
    bool keep();
    // What was written goes.
    void discard() { file_.reset(); }

  private:
    std::filesystem::path target_;
    std::optional<TemporaryFile> file_;
    int error_ = 0;
};

// How a file's log lines reach the status window: as they happen (one file at a time), or
// gathered and shown whole when the file ends (several at once, so lines of files never mix).
enum class LogMode { Live, Whole };

// Where a file is on its way. A file moves down this list, but for a new attempt, which goes back
// to Requesting.
enum class FileStage {
    Waiting,         // handed over, not begun (an earlier file's name may still meet its own)
    CheckingSaved,   // asking the length of a file of its name saved already (skip existing)
    Requesting,      // an attempt's request is out; no answer yet
    Receiving,       // the answer's body is coming in
    PausingToRetry,  // the server asked for a pause before the next attempt
    Settling,        // whole, waiting until no earlier file can bring the same bytes (archive)
    Ended,
};

enum class FileOutcome { None, Saved, AlreadySaved, Failed, Stopped };

class FileDownload : private TransferListener {
  public:
    using Clock = std::chrono::steady_clock;

    // thumbnail: what goes to failed.txt for an address that is no web address.
    FileDownload(JobContext& job, const DownloadTarget& target, std::string thumbnail,
                 std::size_t tag, LogMode mode);
    ~FileDownload() override;
    FileDownload(const FileDownload&) = delete;
    FileDownload& operator=(const FileDownload&) = delete;

    // Names the file and begins it; a file that cannot be asked for ends at once.
    void begin();
    // A stop: the transfer ends, the bytes so far go, nothing more is logged.
    void cancel();
    // Begins the next attempt once a pause the server asked for is over.
    void tick(Clock::time_point now);
    // A file whose bytes are whole goes into place (or is found the same as a file saved
    // before); files at once with the archive wait for this, so that of two files with the same
    // bytes the earlier one is kept, as one at a time.
    void settle();

    FileStage stage() const { return stage_; }
    // A request of this file is on the wire: not waiting for room among the job's transfers.
    bool onTheWire() const;
    bool ended() const { return stage_ == FileStage::Ended; }
    FileOutcome outcome() const { return outcome_; }
    std::size_t tag() const { return tag_; }
    const std::string& host() const { return host_; }
    const std::string& url() const { return target_.url; }
    const std::string& family() const { return family_; }
    const std::string& displayName() const { return displayName_; }
    // The file's log lines (gathered ones only: LogMode::Whole).
    const std::string& log() const { return log_; }
    // Bytes of the file so far, and how many it will have (-1 while unknown).
    std::uint64_t bytes() const { return bytes_; }
    std::int64_t expected() const { return expected_; }
    // The SHA-256 of a file saved whole, when it was asked for (a placeholder check).
    const std::optional<Sha256Digest>& sha256() const { return sha256_; }

    // Told once, when the file has ended (from inside the job's transfers: it must not destroy
    // the file there).
    std::function<void(FileDownload&)> onEnded;

  private:
    bool onHeaders(const std::string& headerBlock) override;
    bool onBody(const char* data, std::size_t size) override;
    void onEnd(const TransferEnd& end) override;

    void beginAttempt();
    bool answerTakesUpTheRest(const std::string& headerBlock);
    void attemptEnded(std::string reason);
    void settleAttempt(std::string reason);
    // With the archive: the full-size address was saved before, in this job or another; logged
    // and recorded for this entry. False when it was not.
    bool savedBefore();
    // With the archive: the bytes in hand are those of a file saved before from another address
    // that still stands; the new copy goes. False when they are not.
    bool sameBytesSaved(std::uint64_t length);
    // Records the file saved whole under its name.
    void recordSaved(std::uint64_t length, const Sha256Digest& sha256);
    void record(const SavedFile& file);
    bool worthResuming(const std::string& reason) const;
    void end(FileOutcome outcome);
    void say(const std::string& text);
    void startOver();
    void showProgressValue(double value);
    TransferRequest request(TransferRequest::Method method) const;

    JobContext& job_;
    DownloadTarget target_;
    std::string thumbnail_;
    std::size_t tag_;
    LogMode mode_;
    std::string entry_;  // what the archive records the file for
    int pageNumber_ = 1;
    std::filesystem::path folder_;  // where the file goes
    bool folderMade_ = false;
    std::string host_;
    std::string family_;
    std::string fileName_;  // chosen when it begins; "" means nothing may be written
    std::string displayName_;
    std::filesystem::path path_;
    AttemptFile file_;

    FileStage stage_ = FileStage::Waiting;
    FileOutcome outcome_ = FileOutcome::None;
    TransferSlots::Ticket ticket_ = 0;
    int attempt_ = 0;
    std::string log_;

    // Of the attempt in hand.
    std::string headerBlock_;
    std::string answerReason_;  // what the headers say against the answer
    std::string bodyReason_;    // what went wrong with the body
    bool unannounced_ = false;
    std::int64_t expected_ = -1;
    std::uint64_t bytes_ = 0;
    std::int64_t nextMark_ = 0;  // the next piece boundary the progress bar shows
    std::optional<std::chrono::seconds> retryPause_;
    Clock::time_point retryAt_{};

    // What a later attempt needs to ask only for the rest of the file.
    std::uint64_t resumeFrom_ = 0;
    std::string validator_;  // ETag or Last-Modified of the answer the bytes came from
    HtmlStartSniffer sniffer_;
    std::optional<Sha256> digest_;  // of the bytes of the file so far, when it is wanted
    std::optional<Sha256Digest> sha256_;
};

}  // namespace velnoria
