#pragma once

// Started from the desktop menu, the program works in a folder of the user's own: the launcher's
// current folder (usually the home folder, or "/") is no place for settings.dat, failed.txt and
// the images. The menu entry passes kMenuLaunchArgument first; a start from a terminal keeps the
// current folder.

#include <filesystem>
#include <string>
#include <string_view>

namespace velnoria {

inline constexpr std::string_view kMenuLaunchArgument = "--menu-launch";
inline constexpr std::string_view kMenuLaunchFolderName = "Velnoria Morvath";

// $XDG_CONFIG_HOME/user-dirs.dirs, or $HOME/.config/user-dirs.dirs when that variable is unset or
// not absolute. Empty when neither gives an absolute folder.
inline std::filesystem::path userDirsFile(const std::string& home,
                                          const std::string& xdgConfigHome) {
    if (xdgConfigHome.starts_with('/'))
        return std::filesystem::path(xdgConfigHome) / "user-dirs.dirs";
    if (home.starts_with('/')) return std::filesystem::path(home) / ".config" / "user-dirs.dirs";
    return {};
}

// The user's Pictures folder: the last XDG_PICTURES_DIR line of user-dirs.dirs (the text given)
// that holds "$HOME/..." or an absolute path, else $HOME/Pictures. Empty without an absolute home.
inline std::filesystem::path picturesFolder(const std::string& home, std::string_view userDirs) {
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

// The folder a menu launch works in; empty when there is none to go by.
inline std::filesystem::path menuLaunchFolder(const std::string& home, std::string_view userDirs) {
    const std::filesystem::path pictures = picturesFolder(home, userDirs);
    return pictures.empty() ? pictures : pictures / kMenuLaunchFolderName;
}

}  // namespace velnoria
