#pragma once

#include <cstdio>
#include <string>

#include "download/dry_run.h"

namespace velnoria {

// velnoria-get --check-rules FILE: each problem of the rules file on out, one a line
// (FILE:LINE:COLUMN: message), then a line that counts the good rules and the problems. Gives
// the exit status: 0 when the file has no problems, 2 otherwise.
int checkRulesCommand(const std::string& file, std::FILE* out);

// The line --print-targets prints for one image: "THUMBNAIL -> ADDRESS NAME" or
// "THUMBNAIL -> (declined: REASON)", each text shown as printableText shows it.
std::string targetLine(const TargetReport& report);

}  // namespace velnoria
