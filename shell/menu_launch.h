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
std::filesystem::path userDirsFile(const std::string& home, const std::string& xdgConfigHome);

// The user's Pictures folder: the last XDG_PICTURES_DIR line of user-dirs.dirs (the text given)
// that holds "$HOME/..." or an absolute path, else $HOME/Pictures. Empty without an absolute home.
std::filesystem::path picturesFolder(const std::string& home, std::string_view userDirs);

// The folder a menu launch works in; empty when there is none to go by.
std::filesystem::path menuLaunchFolder(const std::string& home, std::string_view userDirs);

// Makes the menu launch folder (from $HOME and $XDG_CONFIG_HOME) the current folder, creating it
// when missing. When that fails the program says so on standard error and stays where it was
// started, as from a terminal.
void enterMenuLaunchFolder();

}  // namespace velnoria
