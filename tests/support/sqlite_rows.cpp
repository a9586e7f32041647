#include "tests/support/sqlite_rows.h"

#include <sqlite3.h>

namespace velnoria::testing {

std::vector<std::string> sqliteRows(const std::filesystem::path& file, const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    char* error = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        rows = {std::string("error: ") + sqlite3_errmsg(db)};
    } else if (sqlite3_exec(
                   db, sql.c_str(),
                   [](void* out, int columns, char** values, char**) {
                       std::string row;
                       for (int i = 0; i < columns; ++i) {
                           if (i > 0) row += "|";
                           row += values[i] == nullptr ? "NULL" : values[i];
                       }
                       static_cast<std::vector<std::string>*>(out)->push_back(row);
                       return 0;
                   },
                   &rows, &error) != SQLITE_OK) {
        rows = {std::string("error: ") + (error != nullptr ? error : "?")};
        sqlite3_free(error);
    }
    sqlite3_close(db);
    return rows;
}

}  // namespace velnoria::testing
