#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <system_error>

namespace velnoria::fuzz {

namespace {

std::filesystem::path makeWorkFolder() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / "velnoria-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    return pattern;
}

void removeWorkFolder() {
    std::error_code ec;
    std::filesystem::remove_all(workFolder(), ec);
}

}  // namespace

const std::filesystem::path& workFolder() {
    static const std::filesystem::path folder = [] {
        auto made = makeWorkFolder();
        std::atexit(removeWorkFolder);
        return made;
    }();
    return folder;
}

std::string printable(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace velnoria::fuzz
