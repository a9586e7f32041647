#pragma once

#include <string>

namespace velnoria {

// Why no file can be saved in folder ("" when one can), found by making one there: missing,
// not a folder, not writable, or full. The job asks before it starts, Settings at OK.
std::string saveFolderProblem(const std::string& folder);

// The "Error" box's text about such a folder.
std::string saveFolderProblemText(const std::string& folder, const std::string& problem);

}  // namespace velnoria
