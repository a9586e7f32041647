#pragma once

#include <QColor>

class QWidget;

namespace velnoria {

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
