#include "shell/logo_image.h"

#include <QMouseEvent>
#include <QPixmap>

namespace velnoria {

LogoImage::LogoImage(QWidget* parent) : QLabel(parent) {
    setPixmap(QPixmap(QStringLiteral(":/velnoria/logo.png")));
    setScaledContents(true);
}

void LogoImage::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void LogoImage::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (click) emit clicked();
}

}  // namespace velnoria
