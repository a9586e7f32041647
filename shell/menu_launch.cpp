#include "shell/menu_launch.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

namespace velnoria {

std::filesystem::path userDirsFile(const std::string& home, const std::string& xdgConfigHome) {
    if (xdgConfigHome.starts_with('/'))
        return std::filesystem::path(xdgConfigHome) / "user-dirs.dirs";
    if (home.starts_with('/')) return std::filesystem::path(home) / ".config" / "user-dirs.dirs";
    return {};
}

std::filesystem::path picturesFolder(const std::string& home, std::string_view userDirs) {
    const bool haveHome = home.starts_with('/');
    std::filesystem::path found;
    constexpr std::string_view kKey = "XDG_PICTURES_DIR=";
    while (!userDirs.empty()) {
        const std::size_t end = userDirs.find('\n');
        std::string_view line = userDirs.substr(0, end);
        userDirs.remove_prefix(end == std::string_view::npos ? userDirs.size() : end + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
        if (!line.starts_with(kKey)) continue;
        line.remove_prefix(kKey.size());

        // The value as the shell reads it: quoted with backslash escapes, or bare.
        std::string value;
        if (line.starts_with('"')) {
            if (line.size() < 2 || line.back() != '"') continue;
            line = line.substr(1, line.size() - 2);
            for (std::size_t i = 0; i < line.size(); ++i) {
                if (line[i] == '\\' && i + 1 < line.size()) ++i;
                value += line[i];
            }
        } else {
            value = line;
        }

        if (value == "$HOME" || value.starts_with("$HOME/")) {
            if (haveHome) found = home + value.substr(5);
        } else if (value.starts_with('/')) {
            found = value;
        }
    }
    if (!found.empty()) return found;
    return haveHome ? std::filesystem::path(home) / "Pictures" : std::filesystem::path();
}

std::filesystem::path menuLaunchFolder(const std::string& home, std::string_view userDirs) {
    const std::filesystem::path pictures = picturesFolder(home, userDirs);
    return pictures.empty() ? pictures : pictures / kMenuLaunchFolderName;
}

void enterMenuLaunchFolder() {
    const char* home = std::getenv("HOME");
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string homeFolder = home ? home : "";
    std::ifstream file(userDirsFile(homeFolder, config ? config : ""));
    const std::string userDirs{std::istreambuf_iterator<char>(file),
                               std::istreambuf_iterator<char>()};
    const std::filesystem::path folder = menuLaunchFolder(homeFolder, userDirs);
    if (folder.empty()) {
        std::fputs("velnoria-morvath: no home folder; staying in the current folder\n", stderr);
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!ec) std::filesystem::current_path(folder, ec);
    if (ec) {
        std::fprintf(stderr,
                     "velnoria-morvath: cannot work in \"%s\" (%s); staying in the current "
                     "folder\n",
                     folder.c_str(), ec.message().c_str());
    }
}

}  // namespace velnoria
