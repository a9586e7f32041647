#include "platform/qt/qt_desktop.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#include "platform/qt/qt_text.h"

namespace velnoria {

void QtMessageBox::show(const std::string& title, const std::string& text, MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon,
                    toDisplayText(title), toDisplayText(text), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void QtShell::openFolder(const std::string& folder) {
    // A file URL is handed over as one argument, so no shell ever sees the folder name.
    const QFileInfo place(QString::fromUtf8(folder.c_str()));
    QDesktopServices::openUrl(QUrl::fromLocalFile(place.absoluteFilePath()));
}

void QtShell::openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(url.c_str())));
}

}  // namespace velnoria
