#include "download/safe_file_name.h"

namespace velnoria {

std::string safeFileName(std::string_view name) {
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    if (name.empty() || name == "." || name == "..") return {};
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return {};
    }
    return std::string(name);
}

}  // namespace velnoria
