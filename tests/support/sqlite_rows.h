#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace velnoria::testing {

// The rows a query gives on an SQLite file opened read-only, one string each with "|" between
// the values (NULL for none), as the sqlite3 tool prints them; {"error: REASON"} when it fails.
std::vector<std::string> sqliteRows(const std::filesystem::path& file, const std::string& sql);

}  // namespace velnoria::testing
