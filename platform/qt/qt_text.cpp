#include "platform/qt/qt_text.h"

namespace velnoria {

QString toDisplayText(const std::string& text) {
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

std::string fromQString(const QString& text) {
    return text.toUtf8().toStdString();
}

}  // namespace velnoria
