#include <QApplication>
#include <string>

#include "shell/desktop_program.h"

int main(int argc, char** argv) {
    // Taken before Qt removes the arguments it understands.
    const std::string arguments = velnoria::argumentText(argc, argv);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velnoria-morvath"));
    return velnoria::runDesktopProgram(arguments);
}
