#pragma once

#include <filesystem>
#include <string_view>

namespace velnoria {

// Appends url and CR LF to "failed.txt" in folder, opened and closed for this one line.
// False when the line could not be written.
bool appendToFailureLog(const std::filesystem::path& folder, std::string_view url);

}  // namespace velnoria
