#include "shell/stored_cookies.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QFile>
#include <memory>

namespace velnoria {

namespace {

// The engine counts time in microseconds since 1601.
constexpr qint64 kSecondsFrom1601To1970 = 11644473600;

struct CloseDatabase {
    void operator()(sqlite3* database) const { sqlite3_close(database); }
};
struct FinishStatement {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

QByteArray column(sqlite3_stmt* row, int index) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(row, index));
    return QByteArray(bytes, sqlite3_column_bytes(row, index));
}

}  // namespace

QString storedCookiesFile(const QString& storageFolder) {
    return storageFolder + QStringLiteral("/Cookies");
}

std::vector<QNetworkCookie> readStoredCookies(const QString& storageFolder) {
    std::vector<QNetworkCookie> cookies;
    const QString file = storedCookiesFile(storageFolder);
    if (!QFile::exists(file)) return cookies;
    sqlite3* opened = nullptr;
    const int status = sqlite3_open_v2(QFile::encodeName(file).constData(), &opened,
                                       SQLITE_OPEN_READONLY, nullptr);
    const std::unique_ptr<sqlite3, CloseDatabase> database(opened);
    if (status != SQLITE_OK) return cookies;

    sqlite3_stmt* prepared = nullptr;
    sqlite3_prepare_v2(database.get(),
                       "SELECT host_key, path, is_secure, is_httponly, has_expires, expires_utc, "
                       "name, value FROM cookies "
                       "WHERE top_frame_site_key = '' AND length(encrypted_value) = 0",
                       -1, &prepared, nullptr);
    const std::unique_ptr<sqlite3_stmt, FinishStatement> query(prepared);
    if (query == nullptr) return cookies;  // another layout: nothing is guessed

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    while (sqlite3_step(query.get()) == SQLITE_ROW) {
        QNetworkCookie cookie(column(query.get(), 6), column(query.get(), 7));
        cookie.setDomain(QString::fromUtf8(column(query.get(), 0)));
        cookie.setPath(QString::fromUtf8(column(query.get(), 1)));
        cookie.setSecure(sqlite3_column_int(query.get(), 2) != 0);
        cookie.setHttpOnly(sqlite3_column_int(query.get(), 3) != 0);
        if (sqlite3_column_int(query.get(), 4) != 0) {
            const qint64 expires =
                sqlite3_column_int64(query.get(), 5) / 1000000 - kSecondsFrom1601To1970;
            if (expires <= now) continue;  // the engine drops it as it reads it
            cookie.setExpirationDate(QDateTime::fromSecsSinceEpoch(expires));
        }
        cookies.push_back(std::move(cookie));
    }
    return cookies;
}

}  // namespace velnoria
