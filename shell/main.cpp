#include <QApplication>
#include <string>

#include "shell/desktop_program.h"
#include "shell/menu_launch.h"

int main(int argc, char** argv) {
    // The menu entry's own argument goes before the command-line rule sees the rest.
    if (argc > 1 && argv[1] == velnoria::kMenuLaunchArgument) {
        velnoria::enterMenuLaunchFolder();
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
