#pragma once

#include <string>

namespace velnoria::testing {

// The status log's fixed texts, as the per-file download writes them.
inline const std::string kLogStart = "Starting download process...\r\n";
inline const std::string kLogRetry = "FAILED\r\nRESTART DOWNLOAD.\r\n";
inline const std::string kLogLogged = "FAILED\r\nFAILURE LOGGED.\r\n";

}  // namespace velnoria::testing
