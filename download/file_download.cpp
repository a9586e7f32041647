#include "download/file_download.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "core/printable.h"
#include "core/unique_fd.h"
#include "download/answer_judgement.h"
#include "download/fetch_file.h"
#include "download/next_pages.h"
#include "download/rules/rule_text.h"
#include "download/safe_file_name.h"

namespace velnoria {

namespace {

// A file found saved already is read whole for the archive's digest up to this size: the job
// does nothing else meanwhile.
constexpr long long kLargestFileHashedAtOnce = 16LL * 1024 * 1024;

const std::string kWarning =
    "\r\nWarning! Unknown file size, trying alternative method for download...";

long long regularFileSize(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<long long>(info.st_size);
}

// How the job keeps a name: with the folder below the save folder it is in.
std::string nameInFolder(const std::string& folder, const std::string& fileName) {
    return folder.empty() ? fileName : folder + "/" + fileName;
}

}  // namespace

std::string jobFileName(const JobContext& job, const DownloadTarget& target, bool* shortened) {
    const SafeName safe = safeName(target.name, job.longestName);
    if (shortened != nullptr) *shortened = safe.shortened;
    const std::string& fileName = safe.name;
    if (fileName.empty()) return fileName;
    const std::filesystem::path folder = targetFolder(job, target);
    return unusedName(
        fileName,
        [&](const std::string& name) {
            const auto saved = job.savedNames.find(nameInFolder(target.folder, name));
            if (saved != job.savedNames.end()) return saved->second != target.url;
            // A name that something stands under in the save folder, when nothing may be
            // replaced.
            struct stat info {};
            return job.neverReplace && ::lstat((folder / name).c_str(), &info) == 0;
        },
        job.longestName);
}

std::filesystem::path targetFolder(const JobContext& job, const DownloadTarget& target) {
    const std::filesystem::path top(job.program.settings.savePath);
    return target.folder.empty() ? top : top / target.folder;
}

std::string makeFolderBelow(const std::filesystem::path& top, const std::string& below) {
    UniqueFd folder(::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) {
        return "cannot open the save folder (" + std::string(std::strerror(errno)) + ")";
    }
    std::size_t start = 0;
    while (start < below.size()) {
        const std::size_t end = std::min(below.find('/', start), below.size());
        const std::string part = below.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        if (::mkdirat(folder.get(), part.c_str(), 0777) != 0 && errno != EEXIST) {
            return "cannot make the folder " + part + " (" + std::strerror(errno) + ")";
        }
        // A link in its place could lead anywhere: only a real folder is entered.
        UniqueFd inner(
            ::openat(folder.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!inner.valid()) {
            const int error = errno;
            struct stat info {};
            const bool link =
                ::fstatat(folder.get(), part.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(info.st_mode);
            return "cannot use the folder " + part + " (" +
                   (link ? std::string("a link") : std::string(std::strerror(error))) + ")";
        }
        folder = std::move(inner);
    }
    return {};
}

std::string displayedName(const std::string& fileName) {
    std::string shown;
    assignField(shown, [&] { return lastField(fileName, "\\"); });
    return shown;
}

std::string nameFamily(const std::string& fileName) {
    const std::size_t dot = fileName.rfind('.');
    const std::size_t cut = dot == std::string::npos || dot == 0 ? fileName.size() : dot;
    std::string stem = fileName.substr(0, cut);
    for (;;) {
        // " (N)" at the end of the stem
        if (stem.size() < 4 || stem.back() != ')') break;
        const std::size_t open = stem.rfind(" (");
        if (open == std::string::npos || open + 3 > stem.size() - 1) break;
        const std::string_view digits(stem.data() + open + 2, stem.size() - open - 3);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
            break;
        }
        stem.resize(open);
    }
    return stem + fileName.substr(cut);
}

std::string targetProblem(const std::string& fileName, const std::filesystem::path& target) {
    if (fileName.empty()) return "no usable file name";
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        return "cannot write: not a regular file";  // a link, a folder or a device: never ours
    }
    return {};
}

void claimName(JobContext& job, const std::string& folder, const std::string& fileName,
               const std::string& url) {
    job.savedNames[nameInFolder(folder, fileName)] = url;
}

// --- AttemptFile ---

bool AttemptFile::open() {
    if (file_) return true;
    file_.emplace(target_.parent_path(), "velnoria-", ".part", 0666);
    if (file_->valid()) return true;
    error_ = file_->error();
    file_.reset();
    return false;
}

bool AttemptFile::write(std::string_view bytes) {
    if (!open()) return false;
    if (writeAll(file_->fd(), bytes)) return true;
    error_ = errno;
    return false;
}

long long AttemptFile::length() const {
    return file_ ? fileLength(file_->fd()) : -1;
}

bool AttemptFile::truncate() {
    if (!file_) return true;
    if (::ftruncate(file_->fd(), 0) == 0 && ::lseek(file_->fd(), 0, SEEK_SET) == 0) return true;
    error_ = errno;
    return false;
}

bool AttemptFile::keep() {
    if (!open()) return false;
    const bool moved = file_->moveTo(target_);
    if (!moved) error_ = errno;
    file_.reset();
    return moved;
}

// --- FileDownload ---

FileDownload::FileDownload(JobContext& job, const DownloadTarget& target, std::string thumbnail,
                           std::size_t tag, LogMode mode)
    : job_(job),
      target_(target),
      thumbnail_(std::move(thumbnail)),
      tag_(tag),
      mode_(mode),
      entry_(job.archiveEntry.empty() ? target.url : job.archiveEntry),
      pageNumber_(job.page.number),
      folder_(targetFolder(job, target)),
      host_(webHostName(target.url)),
      family_(nameInFolder(target.folder, nameFamily(safeFileName(target.name, job.longestName)))) {
}

FileDownload::~FileDownload() {
    if (ticket_ != 0) job_.transferSlots->cancel(ticket_);
}

void FileDownload::say(const std::string& text) {
    if (mode_ == LogMode::Live) {
        job_.services.status.appendLog(text);
    } else {
        log_ += text;
    }
}

void FileDownload::showProgressValue(double value) {
    if (mode_ == LogMode::Live) job_.services.status.setProgressValue(value);
}

TransferRequest FileDownload::request(TransferRequest::Method method) const {
    TransferRequest request;
    request.url = target_.url;
    request.method = method;
    request.referringPage = target_.referringPage;
    request.hostCookies = target_.hostCookies;
    request.headers = target_.headers;
    request.maxBodyBytes = kLargestUnannouncedBody;
    return request;
}

void FileDownload::begin() {
    if (mode_ == LogMode::Live) job_.services.status.showFinishedCount(job_.counts.finished);
    if (job_.archive != nullptr && savedBefore()) return;
    bool shortened = false;
    fileName_ = jobFileName(job_, target_, &shortened);
    displayName_ = displayedName(fileName_);
    if (shortened) say("File name cut to what the save folder takes: " + displayName_ + "\r\n");
    if (!isWebAddress(target_.url)) {
        // Nothing can come of asking; the thumbnail is what goes to the log.
        say(notWebAddressText(displayName_));
        logFailedAddress(job_, thumbnail_, tag_);
        end(FileOutcome::Failed);
        return;
    }
    path_ = folder_ / fileName_;
    file_.aim(path_);
    // The archive keeps every file's SHA-256, to know the same bytes from another address.
    if (target_.isPlaceholder || job_.archive != nullptr) digest_.emplace();
    // A file of that name may be whole already: its length is asked for first.
    if (job_.program.choices.skipExisting && !fileName_.empty() && regularFileSize(path_) >= 0) {
        stage_ = FileStage::CheckingSaved;
        ticket_ = job_.transferSlots->request(request(TransferRequest::Method::Head), *this);
        return;
    }
    beginAttempt();
}

void FileDownload::beginAttempt() {
    stage_ = FileStage::Requesting;
    headerBlock_.clear();
    answerReason_.clear();
    bodyReason_.clear();
    unannounced_ = false;
    expected_ = -1;
    retryPause_.reset();
    say("Downloading file " + displayName_ + "...");
    std::string problem = targetProblem(fileName_, path_);
    if (problem.empty() && !folderMade_ && !target_.folder.empty()) {
        problem = makeFolderBelow(job_.program.settings.savePath, target_.folder);
        folderMade_ = problem.empty();
    }
    if (!problem.empty()) {
        attemptEnded(std::move(problem));  // nothing is asked for
        return;
    }
    TransferRequest get = request(TransferRequest::Method::Get);
    get.resumeFrom = resumeFrom_;
    if (resumeFrom_ > 0) get.ifRange = validator_;
    ticket_ = job_.transferSlots->request(get, *this);
}

bool FileDownload::answerTakesUpTheRest(const std::string& headerBlock) {
    if (resumeFrom_ == 0) return false;
    const std::uint64_t asked = resumeFrom_;
    resumeFrom_ = 0;
    if (statusCode(headerBlock) == 206) {
        const auto range = readContentRange(headerValue(headerBlock, "Content-Range"));
        if (range && range->first == asked) {
            bytes_ = asked;
            if (range->complete) expected_ = static_cast<std::int64_t>(*range->complete);
            return true;
        }
        // A part of the file, but not the rest: of no use, and the next attempt starts over.
        answerReason_ = "invalid answer: Content-Range " +
                        std::string(headerValue(headerBlock, "Content-Range"));
    }
    // Anything else (the whole file again, a changed file) starts the file over.
    if (!file_.truncate()) bodyReason_ = cannotWrite(file_.error());
    startOver();
    return false;
}

bool FileDownload::onHeaders(const std::string& headerBlock) {
    if (stage_ == FileStage::CheckingSaved) {
        headerBlock_ = headerBlock;
        return true;  // a HEAD answer has no body: the connection stays usable
    }
    stage_ = FileStage::Receiving;
    headerBlock_ = headerBlock;
    retryPause_ = retryPause(headerBlock, std::chrono::system_clock::now());
    const bool resumed = answerTakesUpTheRest(headerBlock);
    if (answerReason_.empty()) answerReason_ = answerProblem(headerBlock);
    const auto length = readContentLength(headerValue(headerBlock, "Content-Length"));
    if (resumed) {
        if (expected_ < 0 && length) expected_ = static_cast<std::int64_t>(bytes_) + *length;
    } else if (length) {
        expected_ = *length;
    }
    if (expected_ < 0) {
        unannounced_ = true;
        say(kWarning);
    }
    if (mode_ == LogMode::Live) {
        StatusWindow& status = job_.services.status;
        status.setProgressMinimum(0);
        status.setProgressValue(0);
        if (expected_ >= 0) status.setProgressMaximum(static_cast<double>(expected_));
        const std::int64_t piece = std::max<std::int32_t>(1, job_.program.settings.pieceSize);
        nextMark_ = piece;
        if (resumed) {
            nextMark_ = (static_cast<std::int64_t>(bytes_) / piece + 1) * piece;
            if (expected_ >= 0) showProgressValue(static_cast<double>(bytes_));
        }
    }
    if (answerReason_.empty() && !file_.open()) bodyReason_ = cannotWrite(file_.error());
    return true;
}

bool FileDownload::onBody(const char* data, std::size_t size) {
    if (stage_ == FileStage::CheckingSaved) return false;
    // What an answer that already failed sends is read and let go.
    if (!answerReason_.empty() || !bodyReason_.empty()) return true;
    const std::string_view bytes(data, size);
    sniffer_.feed(bytes);
    if (digest_) digest_->add(bytes);
    if (!file_.write(bytes)) {
        bodyReason_ = cannotWrite(file_.error());
        return false;
    }
    bytes_ += size;
    if (mode_ == LogMode::Live && expected_ >= 0) {
        // The bar moves once a piece, as it always did.
        const std::int64_t piece = std::max<std::int32_t>(1, job_.program.settings.pieceSize);
        while (nextMark_ < expected_ && static_cast<std::int64_t>(bytes_) >= nextMark_) {
            showProgressValue(static_cast<double>(nextMark_));
            nextMark_ += piece;
        }
    }
    return true;
}

void FileDownload::onEnd(const TransferEnd& end) {
    ticket_ = 0;
    if (stage_ == FileStage::CheckingSaved) {
        const auto length = readContentLength(headerValue(headerBlock_, "Content-Length"));
        const bool whole = end.failureCode == 0 && statusCode(headerBlock_) > 0 &&
                           statusCode(headerBlock_) < 400 && length &&
                           regularFileSize(path_) == *length;
        if (whole) {
            say("Downloading file " + displayName_ + "...ALREADY SAVED\r\n");
            ++job_.counts.alreadySaved;
            // Its name is taken: another address of the same name must not replace it.
            claimName(job_, target_.folder, fileName_, target_.url);
            // Remembered, so that the next job asks nothing; read for its digest only when that
            // holds the job up for a moment at most.
            if (job_.archive != nullptr && regularFileSize(path_) <= kLargestFileHashedAtOnce) {
                if (const auto digest = sha256OfFile(path_)) {
                    recordSaved(digest->size, digest->sha256);
                }
            }
            this->end(FileOutcome::AlreadySaved);
            return;
        }
        beginAttempt();
        return;
    }
    std::string reason = answerReason_;
    if (reason.empty() && end.failureCode != 0) reason = end.failureReason;
    if (reason.empty()) reason = bodyReason_;
    if (reason.empty() && stage_ != FileStage::Receiving) reason = "no answer";
    if (reason.empty()) {
        if (unannounced_) {
            // Without a length only the network can tell that the body did not end as it should.
            if (end.cutShort) {
                reason = "connection closed early";
            } else if (!file_.open()) {  // an empty body still makes the file
                reason = cannotWrite(file_.error());
            }
        } else {
            reason = lengthProblem(file_.length(), expected_);
        }
    }
    if (reason.empty() && sniffer_.isHtml()) reason = kHtmlAnswer;
    if (reason.empty() && digest_) {
        sha256_ = digest_->finish();
        const long long length = file_.length();
        if (target_.isPlaceholder &&
            target_.isPlaceholder(static_cast<std::uint64_t>(std::max(length, 0LL)),
                                  hexText(*sha256_))) {
            reason = "placeholder picture";
            digest_.emplace();
        }
    }
    if (mode_ == LogMode::Live && stage_ == FileStage::Receiving && expected_ >= 0) {
        showProgressValue(static_cast<double>(expected_));
    }
    attemptEnded(std::move(reason));
}

bool FileDownload::worthResuming(const std::string& reason) const {
    // Only a body cut short by the network: what came is good, the rest is missing.
    if (reason.empty() || !answerReason_.empty() || !bodyReason_.empty()) return false;
    if (unannounced_ || sniffer_.isHtml() || expected_ <= 0) return false;
    const long long have = file_.length();
    return have > 0 && have < expected_;
}

void FileDownload::attemptEnded(std::string reason) {
    if (reason.empty() && job_.archive != nullptr && mode_ == LogMode::Whole) {
        stage_ = FileStage::Settling;  // the queue settles it in the order of the files
        return;
    }
    settleAttempt(std::move(reason));
}

void FileDownload::settle() {
    if (stage_ == FileStage::Settling) settleAttempt({});
}

void FileDownload::settleAttempt(std::string reason) {
    const auto length = static_cast<std::uint64_t>(std::max(file_.length(), 0LL));
    if (reason.empty() && sameBytesSaved(length)) return;
    if (reason.empty() && !file_.keep()) reason = cannotWrite(file_.error());
    const bool another = !reason.empty() && attempt_ + 1 < kAttempts;
    std::string said = reason;
    if (another && retryPause_) {
        said += ", next attempt in " + std::to_string(retryPause_->count()) + " s";
    }
    say(attemptEndText(said, attempt_));
    if (reason.empty()) {
        if (job_.counts.finished < kLargestCount) ++job_.counts.finished;
        claimName(job_, target_.folder, fileName_, target_.url);
        if (job_.archive != nullptr && sha256_) recordSaved(length, *sha256_);
        if (mode_ == LogMode::Live) job_.services.status.showFinishedCount(job_.counts.finished);
        end(FileOutcome::Saved);
        return;
    }
    if (another && worthResuming(reason)) {
        resumeFrom_ = static_cast<std::uint64_t>(file_.length());
        validator_ = headerValue(headerBlock_, "ETag");
        if (validator_.empty()) validator_ = headerValue(headerBlock_, "Last-Modified");
    } else {
        resumeFrom_ = 0;
        file_.discard();
        startOver();
    }
    ++attempt_;
    // The next attempt must be answered by the server, not by a cached copy.
    job_.services.urlCache.deleteEntry(target_.url);
    if (!another) {
        logFailedAddress(job_, target_.url, tag_);
        end(FileOutcome::Failed);
        return;
    }
    if (retryPause_) {
        stage_ = FileStage::PausingToRetry;
        retryAt_ = Clock::now() + *retryPause_;
        return;
    }
    beginAttempt();
}

bool FileDownload::onTheWire() const {
    return ticket_ != 0 && job_.transferSlots->started(ticket_);
}

bool FileDownload::savedBefore() {
    std::optional<SavedFile> saved;
    if (const auto here = job_.savedAddresses.find(target_.url);
        here != job_.savedAddresses.end()) {
        saved = here->second;
    } else {
        saved = job_.archive->savedFrom(target_.url);
    }
    if (!saved) return false;
    say("Downloading file " + displayedName(saved->fileName) + "...ALREADY SAVED\r\n");
    ++job_.counts.alreadySaved;
    // This entry too, so that the next job asks nothing for it.
    if (saved->entryAddress != entry_) {
        saved->entryAddress = entry_;
        saved->threadAddress = job_.threadAddress;
        saved->pageNumber = pageNumber_;
        saved->savedAt = std::time(nullptr);
        record(*saved);
    }
    end(FileOutcome::AlreadySaved);
    return true;
}

bool FileDownload::sameBytesSaved(std::uint64_t length) {
    if (job_.archive == nullptr || !sha256_) return false;
    const auto same = job_.archive->nameOfSameBytes(*sha256_, length, [&](const SavedName& name) {
        const long long size = regularFileSize(std::filesystem::path(name.folder) / name.fileName);
        return size >= 0 && static_cast<std::uint64_t>(size) == length;
    });
    if (!same) return false;
    // Never put in place: nothing that stood under its name is touched.
    file_.discard();
    // The old file as seen from the save folder when it is in there, else where it is.
    const auto top = std::filesystem::absolute(job_.program.settings.savePath).lexically_normal();
    const auto old = (std::filesystem::path(same->folder) / same->fileName).lexically_normal();
    const auto below = old.lexically_relative(top);
    const bool inside = !below.empty() && *below.begin() != "..";
    say("SAME AS " + printableText((inside ? below : old).string()) + "\r\n");
    ++job_.counts.alreadySaved;
    SavedFile file;
    file.entryAddress = entry_;
    file.fullAddress = target_.url;
    file.fileName = same->fileName;
    file.folder = same->folder;
    file.size = length;
    file.sha256 = *sha256_;
    file.threadAddress = job_.threadAddress;
    file.pageNumber = pageNumber_;
    file.savedAt = std::time(nullptr);
    record(file);
    end(FileOutcome::AlreadySaved);
    return true;
}

void FileDownload::recordSaved(std::uint64_t length, const Sha256Digest& sha256) {
    SavedFile file;
    file.entryAddress = entry_;
    file.fullAddress = target_.url;
    file.fileName = fileName_;
    file.folder = std::filesystem::absolute(folder_).lexically_normal().string();
    file.size = length;
    file.sha256 = sha256;
    file.threadAddress = job_.threadAddress;
    file.pageNumber = pageNumber_;
    file.savedAt = std::time(nullptr);
    record(file);
}

void FileDownload::record(const SavedFile& file) {
    job_.savedAddresses.insert_or_assign(file.fullAddress, file);
    std::string problem;
    if (job_.archive->record(file, problem) || job_.archiveProblemSaid) return;
    // Said once; the files go on downloading, and a later job fetches these again.
    job_.archiveProblemSaid = true;
    say(problem + "\r\n");
}

void FileDownload::startOver() {
    bytes_ = 0;
    sniffer_ = HtmlStartSniffer{};
    if (digest_) digest_.emplace();
}

void FileDownload::tick(Clock::time_point now) {
    if (stage_ == FileStage::PausingToRetry && now >= retryAt_) beginAttempt();
}

void FileDownload::cancel() {
    if (stage_ == FileStage::Ended) return;
    if (ticket_ != 0) job_.transferSlots->cancel(ticket_);
    ticket_ = 0;
    file_.discard();
    stage_ = FileStage::Ended;
    outcome_ = FileOutcome::Stopped;
}

void FileDownload::end(FileOutcome outcome) {
    stage_ = FileStage::Ended;
    outcome_ = outcome;
    if (onEnded) onEnded(*this);
}

}  // namespace velnoria
