#pragma once

#include <QColor>
#include <QRect>
#include <QSize>

class QWidget;

namespace velnoria {

// The window layouts are kept in twips as designed; 15 twips are one pixel.
constexpr int twipsToPixels(int twips) {
    return (twips * 2 + 15) / 30;
}

constexpr QRect twipsRect(int left, int top, int width, int height) {
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

constexpr QSize twipsSize(int width, int height) {
    return QSize(twipsToPixels(width), twipsToPixels(height));
}

// The logo and the icon; resources of a static library are registered by hand.
void registerWindowResources();

// The windows' fixed colours and placement.
void paintBackground(QWidget* window, const QColor& colour);
void paintBase(QWidget* textBox, const QColor& colour);
// Labels keep the face colour of the controls, not the window's background.
void paintLabelFace(QWidget* label);
void paintLabel(QWidget* label, const QColor& background, const QColor& text);
void centreOn(QWidget* window, const QWidget* owner);
void centreOnScreen(QWidget* window);

}  // namespace velnoria
