#include "shell/window_style.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>

static void initWindowResources() {
    Q_INIT_RESOURCE(velnoria);
}

namespace velnoria {

void registerWindowResources() {
    initWindowResources();
}

void paintBackground(QWidget* window, const QColor& colour) {
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, colour);
    window->setPalette(palette);
    window->setAutoFillBackground(true);
}

void paintBase(QWidget* textBox, const QColor& colour) {
    QPalette palette = textBox->palette();
    palette.setColor(QPalette::Base, colour);
    palette.setColor(QPalette::Text, Qt::black);
    textBox->setPalette(palette);
}

void paintLabelFace(QWidget* label) {
    const QPalette standard = QApplication::palette();
    paintLabel(label, standard.color(QPalette::Button), standard.color(QPalette::ButtonText));
}

void paintLabel(QWidget* label, const QColor& background, const QColor& text) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    label->setPalette(palette);
    label->setAutoFillBackground(true);
}

void centreOn(QWidget* window, const QWidget* owner) {
    const QRect ownerFrame = owner->isVisible() ? owner->frameGeometry() : owner->geometry();
    QRect frame = window->frameGeometry();
    frame.moveCenter(ownerFrame.center());
    window->move(frame.topLeft());
}

void centreOnScreen(QWidget* window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

}  // namespace velnoria
