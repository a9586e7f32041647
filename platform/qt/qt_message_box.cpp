#include "platform/qt/qt_message_box.h"

#include <QMessageBox>

#include "platform/qt/qt_text.h"

namespace velnoria {

void QtMessageBox::show(const std::string& title, const std::string& text, MessageIcon icon) {
    QMessageBox box(icon == MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon,
                    toDisplayText(title), toDisplayText(text), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace velnoria
