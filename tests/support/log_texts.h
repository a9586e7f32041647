#pragma once

#include <string>

namespace velnoria::testing {

// The status log's fixed texts, as the per-file download writes them.
inline const std::string kLogStart = "Starting download process...\r\n";

// The end of a failed attempt's line, with its reason, and the line after it.
inline std::string logRetry(const std::string& reason) {
    return "FAILED (" + reason + ")\r\nRESTART DOWNLOAD.\r\n";
}
inline std::string logLogged(const std::string& reason) {
    return "FAILED (" + reason + ")\r\nFAILURE LOGGED.\r\n";
}

}  // namespace velnoria::testing
