#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "download/dry_run.h"

namespace velnoria {

// velnoria-get --check-rules FILE: each problem of the rules file on out, one a line
// (FILE:LINE:COLUMN: message), then a line that counts the good rules and the problems. Gives
// the exit status: 0 when the file has no problems, 2 otherwise.
int checkRulesCommand(const std::string& file, std::FILE* out);

// The line --print-targets prints for one image: "THUMBNAIL -> ADDRESS NAME" or
// "THUMBNAIL -> (declined: REASON)".
std::string targetLine(const TargetReport& report);

// Text from the network as it may go to a terminal: control characters (C1 too) and bytes that are
// not UTF-8 written as \xHH.
std::string terminalSafe(std::string_view text);

}  // namespace velnoria
