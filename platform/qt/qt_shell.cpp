#include "platform/qt/qt_shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace velnoria {

void QtShell::openFolder(const std::string& folder) {
    // A file URL is handed over as one argument, so no shell ever sees the folder name.
    const QFileInfo place(QString::fromUtf8(folder.c_str()));
    QDesktopServices::openUrl(QUrl::fromLocalFile(place.absoluteFilePath()));
}

void QtShell::openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(url.c_str())));
}

}  // namespace velnoria
