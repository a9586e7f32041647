#include "shell/desktop_program.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>

#include "core/temporary_file.h"
#include "shell/main_window.h"

namespace velnoria {

std::string argumentText(int argc, const char* const* argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    return text;
}

bool commandLineAllowsStart(const std::string& argumentText) {
    return argumentText.empty() || argumentText.find(" /s:") != std::string::npos;
}

namespace {

std::function<void()>& lastStep() {
    static std::function<void()> step;
    return step;
}

}  // namespace

void setLastStep(std::function<void()> step) {
    lastStep() = std::move(step);
}

void endProcessNow(int exitCode) {
    // Nothing below on the stack unwinds: a download or page scan in hand leaves no file behind.
    removeTemporaryFilesNow();
    if (lastStep()) lastStep()();
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

int runDesktopProgram(const std::string& argumentText) {
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/velnoria/icon.png")));
    MainWindow window(endProcessNow);
    if (!window.startUp(argumentText)) return 1;
    window.show();
    return QApplication::exec();
}

}  // namespace velnoria
