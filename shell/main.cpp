#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "shell/command_line.h"
#include "shell/desktop_program.h"
#include "shell/menu_launch.h"

namespace {

// Makes the menu launch folder the current folder. When that fails the program stays where it
// was started, as from a terminal.
void enterMenuLaunchFolder() {
    const char* home = std::getenv("HOME");
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string homeFolder = home ? home : "";
    std::ifstream file(velnoria::userDirsFile(homeFolder, config ? config : ""));
    const std::string userDirs{std::istreambuf_iterator<char>(file),
                               std::istreambuf_iterator<char>()};
    const std::filesystem::path folder = velnoria::menuLaunchFolder(homeFolder, userDirs);
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

}  // namespace

int main(int argc, char** argv) {
    // The menu entry's own argument goes before the command-line rule sees the rest.
    if (argc > 1 && argv[1] == velnoria::kMenuLaunchArgument) {
        enterMenuLaunchFolder();
        for (int i = 1; i < argc; ++i) argv[i] = argv[i + 1];
        --argc;
    }
    // Taken before Qt removes the arguments it understands.
    const std::string arguments = velnoria::argumentText(argc, argv);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velnoria-morvath"));
    // Lets the desktop match the windows to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("velnoria-morvath"));
    return velnoria::runDesktopProgram(arguments);
}
