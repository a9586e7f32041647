#include "download/response_checks.h"

namespace velnoria {

bool holdsErrorMarker(std::string_view headerBlock) {
    return headerBlock.find("500 Internal Server Error") != std::string_view::npos ||
           headerBlock.find("Unable to complete request") != std::string_view::npos;
}

int statusLineCode(std::string_view headerBlock) {
    const auto lineEnd = headerBlock.find_first_of("\r\n");
    std::string_view line = headerBlock.substr(0, lineEnd);
    if (!line.starts_with("HTTP/")) return 0;
    const auto space = line.find(' ');
    if (space == std::string_view::npos) return 0;
    line.remove_prefix(space + 1);
    while (line.starts_with(' ')) line.remove_prefix(1);
    if (line.size() < 3) return 0;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9') return 0;
        code = code * 10 + (line[i] - '0');
    }
    if (line.size() > 3 && line[3] != ' ') return 0;
    return code;
}

}  // namespace velnoria
