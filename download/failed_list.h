#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnoria {

inline constexpr const char* kFailedListName = "failed.txt";
// A list of failed addresses is a few kilobytes; a larger file is no such list.
inline constexpr std::uint64_t kFailedListLimit = 64ull * 1024 * 1024;

// "failed.txt" as a retry reads it.
struct FailedList {
    std::vector<std::string> addresses;   // the http(s) addresses, each once, in file order
    std::vector<std::string> otherLines;  // lines that are no such address, kept as they stand
    std::uint64_t size = 0;               // the file's length when it was read
    bool existed = false;
};

// Lines end at LF, CR LF or a lone CR; a byte order mark before the first line is passed over,
// and so are blank lines. An address is a line that is a web address (isWebAddress) and holds
// no control character; blanks around it are dropped.
FailedList parseFailedList(std::string_view text);

// Reads the list in folder; an absent file is an empty list. nullopt with the reason when it
// cannot be read or is larger than the limit.
std::optional<FailedList> readFailedList(const std::filesystem::path& folder, std::string& error);

// After a retry: replaces the list with the lines it had that were no address, then the retry's
// new list in the order of the old one (what it did not settle, and the lines it logged for what
// failed again), then whatever else was appended to the file meanwhile (by another job), each
// line ended by CR LF. `logged` is every line the retry itself appended. The file is replaced by
// replaceFile, so the list is whole at every moment and keeps its permissions. A list that did
// not exist and got nothing stays absent. False with the reason when it could not be replaced;
// the file then keeps the old list with the new failures appended.
bool replaceFailedList(const std::filesystem::path& folder, const FailedList& before,
                       const std::vector<std::string>& newList,
                       const std::vector<std::string>& logged, std::string& error);

// Appends url and CR LF to "failed.txt" in folder, opened and closed for this one line; line
// ends inside url are written escaped, so every address stays one line, and a list whose last
// line has no line end (written by hand) gets one first. False when nothing was written (url
// empty, or the file could not be written).
bool appendToFailureLog(const std::filesystem::path& folder, std::string_view url);

}  // namespace velnoria
