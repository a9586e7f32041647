#include "shell/menu_launch.h"

#include <gtest/gtest.h>

#include <string>

namespace velnoria {
namespace {

TEST(MenuLaunch, UserDirsFileFollowsXdgConfigHomeOnlyWhenAbsolute) {
    struct Case {
        const char* home;
        const char* xdgConfigHome;
        const char* file;
    };
    const Case cases[] = {
        {"/home/ann", "", "/home/ann/.config/user-dirs.dirs"},
        {"/home/ann", "/srv/conf", "/srv/conf/user-dirs.dirs"},
        {"/home/ann", "conf", "/home/ann/.config/user-dirs.dirs"},  // relative: ignored
        {"", "/srv/conf", "/srv/conf/user-dirs.dirs"},
        {"", "", ""},
        {"ann", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(userDirsFile(c.home, c.xdgConfigHome).string(), c.file)
            << c.home << " | " << c.xdgConfigHome;
    }
}

TEST(MenuLaunch, FolderIsInThePicturesFolderOfUserDirsOrOfHome) {
    struct Case {
        const char* home;
        std::string userDirs;
        const char* folder;
    };
    const Case cases[] = {
        // No file, or no Pictures line: $HOME/Pictures.
        {"/home/ann", "", "/home/ann/Pictures/Velnoria Morvath"},
        {"/home/ann", "XDG_MUSIC_DIR=\"$HOME/Musik\"\n", "/home/ann/Pictures/Velnoria Morvath"},
        // As xdg-user-dirs writes it, for another language and with CR LF ends.
        {"/home/ann",
         "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n",
         "/home/ann/Bilder/Velnoria Morvath"},
        {"/home/ann", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\r\n", "/home/ann/Bilder/Velnoria Morvath"},
        {"/home/ann", "  XDG_PICTURES_DIR=\"/data/photos\"", "/data/photos/Velnoria Morvath"},
        {"/home/ann", "XDG_PICTURES_DIR=$HOME/Fotos\n", "/home/ann/Fotos/Velnoria Morvath"},
        {"/home/ann", "XDG_PICTURES_DIR=\"$HOME/My \\\"best\\\" \\$pics\"\n",
         "/home/ann/My \"best\" $pics/Velnoria Morvath"},
        // A folder switched off points at the home folder itself.
        {"/home/ann", "XDG_PICTURES_DIR=\"$HOME/\"\n", "/home/ann/Velnoria Morvath"},
        {"/home/ann", "XDG_PICTURES_DIR=\"$HOME\"\n", "/home/ann/Velnoria Morvath"},
        // The last usable line counts; lines the shell would not read that way do not.
        {"/home/ann", "XDG_PICTURES_DIR=\"$HOME/A\"\nXDG_PICTURES_DIR=\"$HOME/B\"\n",
         "/home/ann/B/Velnoria Morvath"},
        {"/home/ann", "XDG_PICTURES_DIR=\"$HOME/A\"\nXDG_PICTURES_DIR=\"relative\"\n",
         "/home/ann/A/Velnoria Morvath"},
        {"/home/ann", "# XDG_PICTURES_DIR=\"/old\"\n", "/home/ann/Pictures/Velnoria Morvath"},
        {"/home/ann", "XDG_PICTURES_DIR=\"$HOMEWORK/x\"\n", "/home/ann/Pictures/Velnoria Morvath"},
        {"/home/ann", "XDG_PICTURES_DIR=\"/open\n", "/home/ann/Pictures/Velnoria Morvath"},
        {"/home/ann", "MY_XDG_PICTURES_DIR=\"/x\"\n", "/home/ann/Pictures/Velnoria Morvath"},
        // Without an absolute home only an absolute Pictures folder will do.
        {"", "XDG_PICTURES_DIR=\"/data/photos\"\n", "/data/photos/Velnoria Morvath"},
        {"", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n", ""},
        {"", "", ""},
        {"ann", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(menuLaunchFolder(c.home, c.userDirs).string(), c.folder)
            << c.home << " | " << c.userDirs;
    }
}

}  // namespace
}  // namespace velnoria
