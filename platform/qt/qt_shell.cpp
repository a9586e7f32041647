#include "platform/qt/qt_shell.h"

#include <QDesktopServices>
#include <QUrl>

namespace velnoria {

void QtShell::openFolder(const std::string& folder) {
    // A file URL is handed over as one argument, so no shell ever sees the folder name.
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromUtf8(folder.c_str())));
}

void QtShell::openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(url.c_str())));
}

}  // namespace velnoria
