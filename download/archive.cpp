#include "download/archive.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "core/printable.h"
#include "core/temporary_file.h"
#include "core/unique_fd.h"

namespace velnoria {

namespace {

// Marks the file as this program's archive ("VMar"), so that another program's database is
// never taken for one and written to.
constexpr int kApplicationId = 0x564d6172;
constexpr int kSchemaVersion = 1;

// The layout. Files are many and their addresses long, so a row keeps each address as the
// shared text of its origin (scheme and host) and the rest; the rest of the entry as the length
// of what it shares with the rest of the full-size address (ASCII only, so bytes are characters)
// and what follows. The look-ups go through small integer keys: the first four bytes of the
// SHA-256 of the whole address (big-endian, signed). A key may be shared by other addresses; the
// texts themselves decide. The view saved_file shows everything as plain text.
constexpr const char* kSchema = R"sql(
CREATE TABLE shared_text (
    id INTEGER PRIMARY KEY,
    text TEXT NOT NULL UNIQUE
);
CREATE TABLE saved (
    id INTEGER PRIMARY KEY,
    entry_key INTEGER NOT NULL,
    entry_origin INTEGER NOT NULL REFERENCES shared_text,
    entry_shared INTEGER NOT NULL,
    entry_tail TEXT NOT NULL,
    full_key INTEGER NOT NULL,
    full_origin INTEGER NOT NULL REFERENCES shared_text,
    full_rest TEXT NOT NULL,
    file_name TEXT NOT NULL,
    folder INTEGER NOT NULL REFERENCES shared_text,
    size INTEGER NOT NULL,
    sha256 BLOB NOT NULL CHECK (length(sha256) = 32),
    thread INTEGER NOT NULL REFERENCES shared_text,
    page INTEGER NOT NULL,
    saved_at INTEGER NOT NULL
);
CREATE INDEX saved_by_entry ON saved (entry_key);
CREATE INDEX saved_by_full_address ON saved (full_key);
CREATE INDEX saved_by_bytes ON saved (substr(sha256, 1, 4));
CREATE TABLE thread_page (
    thread INTEGER PRIMARY KEY REFERENCES shared_text,
    page INTEGER NOT NULL,
    address TEXT NOT NULL
);
CREATE VIEW saved_file AS
    SELECT saved.id, entry.text || substr(full_rest, 1, entry_shared) || entry_tail AS entry,
           full.text || full_rest AS full_address,
           file_name, folder.text AS folder, size, lower(hex(sha256)) AS sha256,
           thread.text AS thread, page, datetime(saved_at, 'unixepoch') AS saved_at
    FROM saved
    JOIN shared_text AS entry ON entry.id = entry_origin
    JOIN shared_text AS full ON full.id = full_origin
    JOIN shared_text AS folder ON folder.id = saved.folder
    JOIN shared_text AS thread ON thread.id = saved.thread;
)sql";

// One use of a prepared statement: its values bound, its rows stepped through; reset at the
// end, so the next use starts clean.
class Use {
  public:
    explicit Use(sqlite3_stmt* statement) : statement_(statement) {}
    ~Use() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    Use& text(int at, std::string_view value) {
        // An empty view may point nowhere, which SQLite would take for NULL.
        const char* bytes = value.empty() ? "" : value.data();
        sqlite3_bind_text64(statement_, at, bytes, value.size(), SQLITE_STATIC, SQLITE_UTF8);
        return *this;
    }
    Use& blob(int at, const void* data, std::size_t size) {
        sqlite3_bind_blob64(statement_, at, data, size, SQLITE_STATIC);
        return *this;
    }
    Use& integer(int at, std::int64_t value) {
        sqlite3_bind_int64(statement_, at, value);
        return *this;
    }

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return sqlite3_step(statement_); }
    std::int64_t integerAt(int column) const { return sqlite3_column_int64(statement_, column); }
    // The bytes of a text or a blob.
    std::string textAt(int column) const {
        const auto* bytes = sqlite3_column_blob(statement_, column);
        return bytes == nullptr ? std::string()
                                : std::string(reinterpret_cast<const char*>(bytes),
                                              sqlite3_column_bytes(statement_, column));
    }

  private:
    sqlite3_stmt* statement_;
};

// Statements run for their effect alone; false on an error.
bool run(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The first value of the first row of a statement, as text; nullopt with the error code when
// it fails.
std::optional<std::string> firstValue(sqlite3* db, const char* sql, int& error) {
    sqlite3_stmt* statement = nullptr;
    error = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    if (error != SQLITE_OK) return std::nullopt;
    std::optional<std::string> value;
    {
        Use use(statement);
        error = use.step();
        if (error == SQLITE_ROW) {
            value = use.textAt(0);
            error = SQLITE_OK;
        } else if (error == SQLITE_DONE) {
            value = std::string();
            error = SQLITE_OK;
        }
    }
    sqlite3_finalize(statement);
    if (error != SQLITE_OK) return std::nullopt;
    return value;
}

// The look-up key of an address.
std::int64_t addressKey(std::string_view address) {
    const Sha256Digest digest = sha256Of(address);
    const std::uint32_t bits = (std::uint32_t{digest[0]} << 24) | (std::uint32_t{digest[1]} << 16) |
                               (std::uint32_t{digest[2]} << 8) | std::uint32_t{digest[3]};
    return static_cast<std::int32_t>(bits);
}

// An address as the archive keeps it: its origin ("https://host:port") and the rest. An address
// without "://" has an empty origin.
std::pair<std::string_view, std::string_view> splitAddress(std::string_view address) {
    const std::size_t scheme = address.find("://");
    if (scheme == std::string_view::npos) return {std::string_view(), address};
    const std::size_t rest = address.find_first_of("/?#", scheme + 3);
    if (rest == std::string_view::npos) return {address, std::string_view()};
    return {address.substr(0, rest), address.substr(rest)};
}

// How many bytes at the start of the entry's rest the full-size address's rest has too, up to
// the first byte outside ASCII.
std::size_t sharedStart(std::string_view entryRest, std::string_view fullRest) {
    std::size_t length = 0;
    while (length < entryRest.size() && length < fullRest.size() &&
           entryRest[length] == fullRest[length] &&
           static_cast<unsigned char>(entryRest[length]) < 0x80) {
        ++length;
    }
    return length;
}

std::string errnoText(int error) {
    return std::strerror(error);
}

// Why SQLite failed, in its words; the system's reason when it names one.
std::string sqliteReason(sqlite3* db) {
    std::string reason = sqlite3_errmsg(db);
    const int system = sqlite3_system_errno(db);
    if (system != 0 && (sqlite3_extended_errcode(db) & 0xff) == SQLITE_IOERR) {
        reason += ": " + errnoText(system);
    }
    return reason;
}

// How an opened file is described when SQLite refuses it.
std::string damageReason(sqlite3* db, int error) {
    switch (error & 0xff) {
        case SQLITE_NOTADB:
            return "is not an SQLite database";
        case SQLITE_CORRUPT:
            return "is damaged (" + sqliteReason(db) + ")";
        case SQLITE_FULL:
        case SQLITE_READONLY:
            return "cannot be written (" + sqliteReason(db) + ")";
        default:
            return "cannot be read (" + sqliteReason(db) + ")";
    }
}

}  // namespace

// The statements every job runs, prepared once.
class DownloadArchive::Statements {
  public:
    explicit Statements(sqlite3* db) : db_(db) {}
    ~Statements() {
        for (sqlite3_stmt* statement : all_) sqlite3_finalize(statement);
    }
    Statements(const Statements&) = delete;
    Statements& operator=(const Statements&) = delete;

    // False when one cannot be prepared: the tables are not what this program made.
    bool prepare() {
        return make(begin, "BEGIN IMMEDIATE") && make(commit, "COMMIT") &&
               make(rollback, "ROLLBACK") &&
               make(findText, "SELECT id FROM shared_text WHERE text = ?1") &&
               make(addText, "INSERT INTO shared_text (text) VALUES (?1)") &&
               make(findEntry,
                    "SELECT id, substr(full_rest, 1, entry_shared) || entry_tail FROM saved"
                    " INDEXED BY saved_by_entry WHERE entry_key = ?1 AND entry_origin = ?2"
                    " ORDER BY id") &&
               make(findFullAddress,
                    "SELECT id, full_rest FROM saved INDEXED BY saved_by_full_address"
                    " WHERE full_key = ?1 AND full_origin = ?2 ORDER BY id") &&
               make(readSaved,
                    "SELECT entry.text || substr(full_rest, 1, entry_shared) || entry_tail,"
                    " full.text || full_rest, file_name, folder.text, size, sha256, thread.text,"
                    " page, saved_at FROM saved"
                    " JOIN shared_text AS entry ON entry.id = entry_origin"
                    " JOIN shared_text AS full ON full.id = full_origin"
                    " JOIN shared_text AS folder ON folder.id = saved.folder"
                    " JOIN shared_text AS thread ON thread.id = saved.thread"
                    " WHERE saved.id = ?1") &&
               make(findBytes,
                    "SELECT folder.text, file_name FROM saved INDEXED BY saved_by_bytes"
                    " JOIN shared_text AS folder ON folder.id = saved.folder"
                    " WHERE substr(sha256, 1, 4) = ?1 AND sha256 = ?2 AND size = ?3"
                    " ORDER BY saved.id") &&
               make(addSaved,
                    "INSERT INTO saved (entry_key, entry_origin, entry_shared, entry_tail,"
                    " full_key, full_origin, full_rest, file_name, folder, size, sha256, thread,"
                    " page, saved_at)"
                    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)") &&
               make(findLastPage,
                    "SELECT page, address FROM thread_page"
                    " JOIN shared_text ON shared_text.id = thread_page.thread"
                    " WHERE shared_text.text = ?1") &&
               make(setLastPage,
                    "INSERT INTO thread_page (thread, page, address) VALUES (?1, ?2, ?3)"
                    " ON CONFLICT (thread) DO UPDATE SET page = excluded.page,"
                    " address = excluded.address");
    }

    sqlite3_stmt* begin = nullptr;
    sqlite3_stmt* commit = nullptr;
    sqlite3_stmt* rollback = nullptr;
    sqlite3_stmt* findText = nullptr;
    sqlite3_stmt* addText = nullptr;
    sqlite3_stmt* findEntry = nullptr;
    sqlite3_stmt* findFullAddress = nullptr;
    sqlite3_stmt* readSaved = nullptr;
    sqlite3_stmt* findBytes = nullptr;
    sqlite3_stmt* addSaved = nullptr;
    sqlite3_stmt* findLastPage = nullptr;
    sqlite3_stmt* setLastPage = nullptr;

  private:
    bool make(sqlite3_stmt*& statement, const char* sql) {
        if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
            SQLITE_OK) {
            return false;
        }
        all_.push_back(statement);
        return true;
    }

    sqlite3* db_;
    std::vector<sqlite3_stmt*> all_;
};

namespace {

// The write transaction of one change: rolled back unless committed. While it is open, writing
// is set: rows it adds are not committed yet.
class Transaction {
  public:
    Transaction(sqlite3_stmt* begin, sqlite3_stmt* commit, sqlite3_stmt* rollback, bool& writing)
        : commit_(commit), rollback_(rollback), writing_(writing) {
        Use use(begin);
        writing_ = use.step() == SQLITE_DONE;
    }
    ~Transaction() {
        if (writing_) Use(rollback_).step();
        writing_ = false;
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool open() const { return writing_; }
    bool commit() {
        // A failed COMMIT leaves the transaction open; the destructor rolls it back.
        if (Use(commit_).step() == SQLITE_DONE) writing_ = false;
        return !writing_;
    }

  private:
    sqlite3_stmt* commit_;
    sqlite3_stmt* rollback_;
    bool& writing_;
};

// The checks of a file before SQLite opens it; "" when it may be opened.
std::string checkFile(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return "cannot be read (" + errnoText(errno) + ")";
    } else if (!S_ISREG(info.st_mode)) {
        return "is not a file";
    } else if (::access(file.c_str(), R_OK) != 0) {
        return "cannot be read (" + errnoText(errno) + ")";
    } else if (::access(file.c_str(), W_OK) != 0) {
        return "cannot be written (" + errnoText(errno) + ")";
    }
    // SQLite keeps its write-ahead log and its shared index beside the file.
    std::filesystem::path folder = file.parent_path();
    if (folder.empty()) folder = ".";
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return "cannot be written: its folder cannot be written (" + errnoText(errno) + ")";
    }
    return {};
}

// Makes the tables in an empty database, unless another job did so meanwhile. "" when the
// database holds this program's tables afterwards, else the reason.
std::string makeTables(sqlite3* db) {
    if (!run(db, "BEGIN IMMEDIATE")) return damageReason(db, sqlite3_extended_errcode(db));
    int error = SQLITE_OK;
    const auto tables = firstValue(db, "SELECT count(*) FROM sqlite_schema", error);
    std::string reason;
    if (!tables) {
        reason = damageReason(db, error);
    } else if (*tables == "0") {
        const std::string marks = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                                  "; PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
        if (!run(db, kSchema) || !run(db, marks.c_str())) {
            reason = damageReason(db, sqlite3_extended_errcode(db));
        }
    }
    if (reason.empty() && run(db, "COMMIT")) return {};
    if (reason.empty()) reason = damageReason(db, sqlite3_extended_errcode(db));
    run(db, "ROLLBACK");
    return reason;
}

// Opens the database and makes sure it is this program's archive, whole, in WAL mode. "" when
// it may be used, else the reason. Nothing is written to a file that is refused.
std::string prepareDatabase(sqlite3* db) {
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kArchiveBusyWaitMs);
    if (sqlite3_db_readonly(db, "main") == 1) return "cannot be written (opened read-only)";

    int error = SQLITE_OK;
    // The first read of the file: a file of another kind fails here.
    const auto tables = firstValue(db, "SELECT count(*) FROM sqlite_schema", error);
    if (!tables) return damageReason(db, error);
    const auto application = firstValue(db, "PRAGMA application_id", error);
    const auto version = firstValue(db, "PRAGMA user_version", error);
    if (!application || !version) return damageReason(db, error);
    const bool empty = *tables == "0";
    if (!empty && *application != std::to_string(kApplicationId)) {
        return "is a database of another program";
    }
    if (!empty && std::stoll(*version) > kSchemaVersion) {
        return "was made by a newer version of this program";
    }

    // Every page read once, so a cut or damaged file is refused now, not halfway through a job.
    const auto check = firstValue(db, "PRAGMA quick_check(1)", error);
    if (!check) return damageReason(db, error);
    if (*check != "ok") return "is damaged (" + printableText(*check) + ")";

    // A record changes four pages (the row and its three look-ups), each written whole to the
    // log: small pages keep that small. Set before anything is written, for a new archive only.
    if (empty && !run(db, "PRAGMA page_size = 1024")) {
        return damageReason(db, sqlite3_extended_errcode(db));
    }
    const auto mode = firstValue(db, "PRAGMA journal_mode = WAL", error);
    if (!mode) return damageReason(db, error);
    if (*mode != "wal") return "cannot be written (no write-ahead log: " + *mode + ")";
    // In WAL mode a job killed at any moment leaves a whole archive; a power cut may cost the
    // last records, whose files a later job then fetches again. The log is copied into the file
    // (and synced) once it holds 4 MiB rather than SQLite's 1000 pages, so that a job of
    // thousands of files waits for the disk a few times, not once every 250 files.
    if (!run(db,
             "PRAGMA synchronous = NORMAL; PRAGMA journal_size_limit = 4194304;"
             " PRAGMA wal_autocheckpoint = 4096")) {
        return damageReason(db, sqlite3_extended_errcode(db));
    }
    if (empty) return makeTables(db);
    return {};
}

// Opens a database file and prepares it as prepareDatabase does; "" when it may be used, else
// the reason, with `failing` saying what could not be done ("opened", "created"). db is set
// whenever SQLite made a handle, which the caller closes.
std::string openDatabase(const std::filesystem::path& file, const char* failing, sqlite3*& db) {
    db = nullptr;
    const int opened =
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_EXRESCODE, nullptr);
    if (db == nullptr) return std::string("cannot be ") + failing + " (out of memory)";
    if (opened != SQLITE_OK)
        return std::string("cannot be ") + failing + " (" + sqliteReason(db) + ")";
    return prepareDatabase(db);
}

// A new archive is made whole under a name of its own and then linked into place, so that no
// other job ever opens one half made. "" when the file is there afterwards, made here or by a
// job that came first.
std::string makeNewArchive(const std::filesystem::path& file) {
    std::filesystem::path folder = file.parent_path();
    if (folder.empty()) folder = ".";
    TemporaryFile made(folder, "." + file.filename().string() + ".", "", 0644);
    if (!made.valid()) return "cannot be created (" + errnoText(made.error()) + ")";
    sqlite3* db = nullptr;
    std::string reason = openDatabase(made.path(), "created", db);
    // The last connection to close copies the log into the file and removes it.
    sqlite3_close_v2(db);
    if (reason.empty() && ::link(made.path().c_str(), file.c_str()) != 0 && errno != EEXIST) {
        reason = "cannot be created (" + errnoText(errno) + ")";
    }
    std::error_code ignored;
    std::filesystem::remove(made.path().string() + "-wal", ignored);
    std::filesystem::remove(made.path().string() + "-shm", ignored);
    made.remove();
    return reason;
}

}  // namespace

DownloadArchive::DownloadArchive(std::filesystem::path file, sqlite3* db)
    : file_(std::move(file)), db_(db), statements_(std::make_unique<Statements>(db)) {}

DownloadArchive::~DownloadArchive() {
    statements_.reset();
    sqlite3_close_v2(db_);
}

std::unique_ptr<DownloadArchive> DownloadArchive::open(const std::filesystem::path& file,
                                                       std::string& problem) {
    const auto refuse = [&](std::string_view reason) {
        problem =
            "Archive cannot be used: " + printableText(file.string()) + " " + std::string(reason);
        return nullptr;
    };

    if (struct stat info{}; ::stat(file.c_str(), &info) != 0 && errno == ENOENT) {
        if (const std::string reason = makeNewArchive(file); !reason.empty()) return refuse(reason);
    }
    if (const std::string reason = checkFile(file); !reason.empty()) return refuse(reason);
    sqlite3* db = nullptr;
    std::string reason = openDatabase(file, "opened", db);
    std::unique_ptr<DownloadArchive> archive;
    if (reason.empty()) {
        archive.reset(new DownloadArchive(file, db));
        if (!archive->statements_->prepare()) {
            reason = "is damaged (" + sqliteReason(db) + ")";
            archive.reset();
            db = nullptr;
        }
    }
    if (archive) return archive;

    if (db != nullptr) sqlite3_close_v2(db);
    return refuse(reason);
}

std::string DownloadArchive::problemText(std::string_view reason) const {
    return "Archive cannot be used: " + printableText(file_.string()) + " " + std::string(reason);
}

std::optional<std::int64_t> DownloadArchive::sharedTextId(std::string_view text) {
    if (const auto known = knownTexts_.find(std::string(text)); known != knownTexts_.end()) {
        return known->second;
    }
    Use use(statements_->findText);
    use.text(1, text);
    if (use.step() != SQLITE_ROW) return std::nullopt;
    const std::int64_t id = use.integerAt(0);
    // Outside a write transaction of this object's, what is read was committed, and a shared
    // text is never changed or removed.
    if (!writing_) knownTexts_.emplace(text, id);
    return id;
}

std::optional<std::int64_t> DownloadArchive::sharedTextMade(std::string_view text) {
    if (const auto id = sharedTextId(text)) return id;
    Use add(statements_->addText);
    add.text(1, text);
    if (add.step() != SQLITE_DONE) return std::nullopt;
    return sqlite3_last_insert_rowid(db_);
}

std::optional<std::int64_t> DownloadArchive::rowOf(std::string_view address, bool asEntry) {
    const auto [origin, rest] = splitAddress(address);
    const auto originId = sharedTextId(origin);
    if (!originId) return std::nullopt;
    Use use(asEntry ? statements_->findEntry : statements_->findFullAddress);
    use.integer(1, addressKey(address)).integer(2, *originId);
    while (use.step() == SQLITE_ROW) {
        if (use.textAt(1) == rest) return use.integerAt(0);
    }
    return std::nullopt;
}

bool DownloadArchive::hasEntry(std::string_view entryAddress) {
    return rowOf(entryAddress, true).has_value();
}

bool DownloadArchive::hasFullAddress(std::string_view fullAddress) {
    return rowOf(fullAddress, false).has_value();
}

std::optional<SavedFile> DownloadArchive::savedFrom(std::string_view fullAddress) {
    const auto row = rowOf(fullAddress, false);
    return row ? readRow(*row) : std::nullopt;
}

std::optional<SavedFile> DownloadArchive::savedEntry(std::string_view entryAddress) {
    const auto row = rowOf(entryAddress, true);
    return row ? readRow(*row) : std::nullopt;
}

std::optional<SavedFile> DownloadArchive::readRow(std::int64_t row) {
    Use use(statements_->readSaved);
    use.integer(1, row);
    if (use.step() != SQLITE_ROW) return std::nullopt;
    SavedFile file;
    file.entryAddress = use.textAt(0);
    file.fullAddress = use.textAt(1);
    file.fileName = use.textAt(2);
    file.folder = use.textAt(3);
    file.size = static_cast<std::uint64_t>(use.integerAt(4));
    const std::string sha256 = use.textAt(5);
    std::copy_n(sha256.begin(), std::min(sha256.size(), file.sha256.size()), file.sha256.begin());
    file.threadAddress = use.textAt(6);
    file.pageNumber = static_cast<int>(use.integerAt(7));
    file.savedAt = use.integerAt(8);
    return file;
}

std::optional<SavedName> DownloadArchive::nameOfSameBytes(const Sha256Digest& sha256,
                                                          std::uint64_t size) {
    return nameOfSameBytes(sha256, size, [](const SavedName&) { return true; });
}

std::optional<SavedName> DownloadArchive::nameOfSameBytes(
    const Sha256Digest& sha256, std::uint64_t size,
    const std::function<bool(const SavedName&)>& stillThere) {
    Use use(statements_->findBytes);
    use.blob(1, sha256.data(), 4)
        .blob(2, sha256.data(), sha256.size())
        .integer(3, static_cast<std::int64_t>(size));
    while (use.step() == SQLITE_ROW) {
        SavedName name{use.textAt(0), use.textAt(1)};
        if (stillThere(name)) return name;
    }
    return std::nullopt;
}

bool DownloadArchive::record(const SavedFile& file, std::string& problem) {
    Transaction transaction(statements_->begin, statements_->commit, statements_->rollback,
                            writing_);
    const auto fail = [&] {
        problem = problemText("cannot be written (" + sqliteReason(db_) + ")");
        return false;
    };
    if (!transaction.open()) return fail();
    // Inside the write transaction no other job can record the same entry meanwhile.
    if (hasEntry(file.entryAddress)) return transaction.commit() || fail();

    const auto [entryOrigin, entryRest] = splitAddress(file.entryAddress);
    const auto [fullOrigin, fullRest] = splitAddress(file.fullAddress);
    const std::size_t shared = sharedStart(entryRest, fullRest);
    const auto entryOriginId = sharedTextMade(entryOrigin);
    const auto fullOriginId = sharedTextMade(fullOrigin);
    const auto folderId = sharedTextMade(file.folder);
    const auto threadId = sharedTextMade(file.threadAddress);
    if (!entryOriginId || !fullOriginId || !folderId || !threadId) return fail();
    {
        Use add(statements_->addSaved);
        add.integer(1, addressKey(file.entryAddress))
            .integer(2, *entryOriginId)
            .integer(3, static_cast<std::int64_t>(shared))
            .text(4, entryRest.substr(shared))
            .integer(5, addressKey(file.fullAddress))
            .integer(6, *fullOriginId)
            .text(7, fullRest)
            .text(8, file.fileName)
            .integer(9, *folderId)
            .integer(10, static_cast<std::int64_t>(file.size))
            .blob(11, file.sha256.data(), file.sha256.size())
            .integer(12, *threadId)
            .integer(13, file.pageNumber)
            .integer(14, file.savedAt);
        if (add.step() != SQLITE_DONE) return fail();
    }
    if (!transaction.commit()) return fail();
    // Committed now, so they hold: the next files look them up no more.
    knownTexts_.emplace(entryOrigin, *entryOriginId);
    knownTexts_.emplace(fullOrigin, *fullOriginId);
    knownTexts_.emplace(file.folder, *folderId);
    knownTexts_.emplace(file.threadAddress, *threadId);
    return true;
}

std::optional<LastPage> DownloadArchive::lastPageRead(std::string_view threadAddress) {
    Use use(statements_->findLastPage);
    use.text(1, threadAddress);
    if (use.step() != SQLITE_ROW) return std::nullopt;
    return LastPage{static_cast<int>(use.integerAt(0)), use.textAt(1)};
}

bool DownloadArchive::rememberLastPage(std::string_view threadAddress, int number,
                                       std::string_view address, std::string& problem) {
    Transaction transaction(statements_->begin, statements_->commit, statements_->rollback,
                            writing_);
    const auto fail = [&] {
        problem = problemText("cannot be written (" + sqliteReason(db_) + ")");
        return false;
    };
    if (!transaction.open()) return fail();
    const auto threadId = sharedTextMade(threadAddress);
    if (!threadId) return fail();
    {
        Use set(statements_->setLastPage);
        set.integer(1, *threadId).integer(2, number).text(3, address);
        if (set.step() != SQLITE_DONE) return fail();
    }
    return transaction.commit() || fail();
}

}  // namespace velnoria
