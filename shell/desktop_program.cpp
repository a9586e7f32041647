#include "shell/desktop_program.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>

#include "shell/main_window.h"

namespace velnoria {

void endProcessNow(int exitCode) {
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

int runDesktopProgram(const std::string& argumentText) {
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/velnoria/icon.png")));
    MainWindow form1(endProcessNow);
    if (!form1.Form_Load(argumentText)) return 1;
    form1.show();
    return QApplication::exec();
}

}  // namespace velnoria
