#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "download/sha256.h"

struct sqlite3;

namespace velnoria {

// The archive's usual place: beside settings.dat, in the work folder.
inline constexpr const char* kArchiveFileName = "archive.sqlite";

// How long a record waits for another job that is writing to the same archive.
inline constexpr int kArchiveBusyWaitMs = 5000;

// A file saved whole, as the archive keeps it.
struct SavedFile {
    std::string entryAddress;   // what the rule took: the thumbnail's address, or the link's
    std::string fullAddress;    // where the file's bytes came from
    std::string fileName;       // the name it was saved under
    std::string folder;         // the folder it was saved in
    std::uint64_t size = 0;     // bytes
    Sha256Digest sha256{};      // of its bytes
    std::string threadAddress;  // the thread's first page
    int pageNumber = 1;         // the page of the thread it was found on, from 1
    std::int64_t savedAt = 0;   // seconds since 1970-01-01 UTC
};

// Where a file with given bytes was saved before.
struct SavedName {
    std::string folder;
    std::string fileName;
};

// The last page of a thread a job read.
struct LastPage {
    int number = 0;
    std::string address;
};

// What was saved, across jobs and program runs: an SQLite file (WAL mode, one transaction per
// file), so a job killed at any moment loses at most the file in hand and leaves a file SQLite
// opens, and jobs on one archive at once take turns. A look-up that fails says "not there", so
// the worst a failing archive does is fetch a file again.
class DownloadArchive {
  public:
    // Opens the archive, making it when the file does not exist. nullptr with problem set to
    // "Archive cannot be used: FILE REASON" when the file is no SQLite database, is damaged,
    // belongs to another program, or cannot be created or written. Such a file is left exactly
    // as it was: it is never deleted, changed or overwritten.
    static std::unique_ptr<DownloadArchive> open(const std::filesystem::path& file,
                                                 std::string& problem);
    ~DownloadArchive();
    DownloadArchive(const DownloadArchive&) = delete;
    DownloadArchive& operator=(const DownloadArchive&) = delete;

    const std::filesystem::path& file() const { return file_; }

    // Whether a rule's entry (thumbnail or link address) was saved before.
    bool hasEntry(std::string_view entryAddress);
    // Whether a full-size address was saved before, from whatever entry.
    bool hasFullAddress(std::string_view fullAddress);
    // The first file saved from a full-size address, as recorded: what another entry of it (a
    // quoted post's other thumbnail) is recorded with, so that it is skipped unasked later.
    std::optional<SavedFile> savedFrom(std::string_view fullAddress);
    // The first file saved from a rule's entry, as recorded.
    std::optional<SavedFile> savedEntry(std::string_view entryAddress);
    // Where the same bytes (SHA-256 and length) were saved before, if anywhere.
    std::optional<SavedName> nameOfSameBytes(const Sha256Digest& sha256, std::uint64_t size);
    // The same, the first of them that stillThere accepts (a file the user deleted is no copy).
    std::optional<SavedName> nameOfSameBytes(
        const Sha256Digest& sha256, std::uint64_t size,
        const std::function<bool(const SavedName&)>& stillThere);

    // Records a file saved whole, in a transaction of its own. An entry recorded already is left
    // as it is (true: nothing to do). False with problem set when it could not be written
    // (a full disk, the archive's lock held by another program beyond the busy wait).
    bool record(const SavedFile& file, std::string& problem);

    // The last page read of a thread (its first page's address), if a job remembered one.
    std::optional<LastPage> lastPageRead(std::string_view threadAddress);
    // Remembers the last page read of a thread, replacing what was remembered.
    bool rememberLastPage(std::string_view threadAddress, int number, std::string_view address,
                          std::string& problem);

  private:
    class Statements;
    DownloadArchive(std::filesystem::path file, sqlite3* db);

    std::string problemText(std::string_view reason) const;
    // The id of a shared text (an origin, a folder, a thread); nullopt when it is not stored.
    std::optional<std::int64_t> sharedTextId(std::string_view text);
    // The same, the text stored first when it is new; inside a write transaction only.
    std::optional<std::int64_t> sharedTextMade(std::string_view text);
    // The id of the first row that holds the address as its entry or as its full-size address.
    std::optional<std::int64_t> rowOf(std::string_view address, bool asEntry);
    std::optional<SavedFile> readRow(std::int64_t row);

    std::filesystem::path file_;
    sqlite3* db_;
    std::unique_ptr<Statements> statements_;
    // The ids of shared texts read outside a write transaction: committed, so they hold.
    std::unordered_map<std::string, std::int64_t> knownTexts_;
    bool writing_ = false;  // inside a write transaction of this object's
};

}  // namespace velnoria
