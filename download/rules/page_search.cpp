#include "download/rules/page_search.h"

#include <re2/re2.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/temporary_file.h"
#include "core/unique_fd.h"

namespace velnoria {

namespace {

// A file's bytes mapped for reading, unmapped at the end.
class MappedFile {
  public:
    explicit MappedFile(int fd) {
        struct stat info {};
        if (::fstat(fd, &info) != 0) {
            error_ = std::strerror(errno);
            return;
        }
        size_ = static_cast<std::size_t>(info.st_size);
        if (size_ == 0) return;
        void* data = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (data == MAP_FAILED) {
            error_ = std::strerror(errno);
            size_ = 0;
            return;
        }
        data_ = static_cast<const char*>(data);
        ::madvise(data, size_, MADV_SEQUENTIAL);
    }
    ~MappedFile() {
        if (data_ != nullptr) ::munmap(const_cast<char*>(data_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    std::string_view bytes() const { return {data_ == nullptr ? "" : data_, size_}; }

  private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
    std::string error_;
};

// The slices of one search. Each slice is one call of RE2 over the slice and kMaxHitBytes beyond
// it, taking only a hit that begins inside the slice: the leftmost hit of the page is then found
// in the slice it begins in whenever it is no longer than kMaxHitBytes, with the same captures,
// as RE2 sees the text around the call's part for ^, $ and \b. A longer hit is found when one
// call holds it whole.
//
// What one call can cost grows with its bytes and with the pattern's program: RE2 reads a byte in
// a few nanoseconds with its automaton, but a page can drive it to its slowest matcher, which
// takes about 5 ns a byte for each instruction. So a call is given kWorkPerCall / instructions
// bytes: about a third of a second at the slowest, a megabyte or more for an ordinary pattern,
// where the calls and the bytes read twice at the slices' ends cost a few percent.
class SlicedSearch {
  public:
    SlicedSearch(std::string_view page, const re2::RE2& find, const SearchOptions& options)
        : page_(page),
          find_(find),
          pattern_(find.pattern(), find.options()),
          options_(options),
          lastAsk_(std::chrono::steady_clock::now()) {
        const auto instructions = static_cast<std::size_t>(std::max(1, pattern_.ProgramSize()));
        const std::size_t call =
            std::clamp(kWorkPerCall / instructions, kMaxHitBytes + kSmallestSlice, kLargestCall);
        slice_ = std::clamp<std::size_t>(options.maxSliceBytes, 1, call - kMaxHitBytes);
    }

    PageHits run() {
        PageHits result;
        if (!pattern_.ok()) return result;  // compiled once already: cannot happen
        std::size_t from = 0;
        std::optional<std::size_t> lastEnd;  // where the hit before ended
        while (from <= page_.size()) {
            const bool lastSlice = page_.size() - from <= slice_ + kMaxHitBytes;
            const std::size_t callEnd = lastSlice ? page_.size() : from + slice_ + kMaxHitBytes;
            const std::size_t sliceEnd = lastSlice ? page_.size() + 1 : from + slice_;

            const Nanoseconds before = processorTime();
            auto hit = searchCaptures(pattern_, page_, from, callEnd, kMaxFoundBytes);
            spent_ += processorTime() - before;

            std::size_t next = sliceEnd;
            if (hit && hit->start < sliceEnd) {
                if (hit->start == hit->end && hit->start == lastEnd) {
                    next = hit->start + 1;  // no empty hit just where the last one ended
                } else {
                    for (std::string& group : hit->groups) {
                        group = decodeCharacterReferences(group);
                    }
                    hit->names = &find_.NamedCapturingGroups();  // the copy goes at the end
                    next = hit->end;
                    lastEnd = hit->end;
                    result.hits.push_back(std::move(*hit));
                    if (!options_.everyHit) return result;
                    if (result.hits.size() > kMaxHitsPerPage) {
                        result.hits.pop_back();
                        result.moreHits = true;
                        return result;
                    }
                }
            } else if (lastSlice) {
                return result;
            }
            from = next;
            if (from > page_.size()) break;
            // A stop comes first: it is what the user asked for.
            if (stopRequested()) {
                result.end = SearchEnd::Stopped;
                result.problem = "the search was stopped";
                return result;
            }
            if (spent_ > options_.processorTime) {
                result.end = SearchEnd::TooSlow;
                result.problem = "the search took more than " +
                                 secondsText(options_.processorTime) + " of processor time";
                return result;
            }
        }
        return result;
    }

  private:
    using Nanoseconds = std::chrono::nanoseconds;

    static constexpr std::size_t kWorkPerCall = 64 * 1024 * 1024;  // bytes x instructions
    static constexpr std::size_t kSmallestSlice = 4 * 1024;
    static constexpr std::size_t kLargestCall = 4 * 1024 * 1024;
    static constexpr std::chrono::milliseconds kAskEvery{50};

    static Nanoseconds processorTime() {
        struct timespec now {};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return std::chrono::seconds(now.tv_sec) + Nanoseconds(now.tv_nsec);
    }

    static std::string secondsText(std::chrono::milliseconds time) {
        char text[32];
        std::snprintf(text, sizeof text, "%g s", static_cast<double>(time.count()) / 1000);
        return text;
    }

    bool stopRequested() {
        if (!options_.stopRequested) return false;
        if (std::chrono::steady_clock::now() - lastAsk_ < kAskEvery) return false;
        const bool stop = options_.stopRequested();
        lastAsk_ = std::chrono::steady_clock::now();
        return stop;
    }

    std::string_view page_;
    const re2::RE2& find_;
    const re2::RE2 pattern_;
    const SearchOptions& options_;
    std::size_t slice_ = 0;
    Nanoseconds spent_{0};
    std::chrono::steady_clock::time_point lastAsk_;
};

}  // namespace

PageHits searchPageText(std::string_view page, const re2::RE2& find, const SearchOptions& options) {
    return SlicedSearch(page, find, options).run();
}

PageHits searchPageFile(int fd, const re2::RE2& find, const SearchOptions& options) {
    const MappedFile page(fd);
    if (!page.ok()) {
        PageHits unread;
        unread.end = SearchEnd::Unread;
        unread.problem = "the page cannot be read back: " + page.error();
        return unread;
    }
    return searchPageText(page.bytes(), find, options);
}

PageSearch searchPage(UrlDownload& download, const std::string& pageUrl, const re2::RE2& find,
                      const SearchOptions& options) {
    PageSearch result;
    result.address = pageUrl;
    std::string error;
    const UniqueFd scratch = unnamedTemporaryFile(error);
    if (!scratch.valid()) {
        result.error = "no temporary file: " + error;
        return result;
    }
    const int fd = scratch.get();
    const DownloadOutcome outcome = download.download(
        pageUrl,
        [fd](const char* data, std::size_t size) {
            return writeAll(fd, std::string_view(data, size));
        },
        kMaxPageBytes);
    if (!outcome.finalUrl.empty()) result.address = outcome.finalUrl;
    if (!outcome.transferred) {
        result.error = outcome.error.empty() ? "the transfer failed" : outcome.error;
        return result;
    }
    if (!outcome.written) {
        result.error = "the temporary file cannot be written";
        return result;
    }
    if (outcome.httpStatus >= 400) {
        result.error = "HTTP " + std::to_string(outcome.httpStatus);
        return result;
    }
    PageHits search = searchPageFile(fd, find, options);
    if (search.end != SearchEnd::Complete) {
        result.error = search.problem;
        result.stopped = search.end == SearchEnd::Stopped;
        return result;
    }
    if (!search.hits.empty()) result.found = search.hits.front();
    if (options.everyHit) result.hits = std::move(search.hits);
    result.moreHits = search.moreHits;
    result.read = true;
    return result;
}

}  // namespace velnoria
