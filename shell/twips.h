#pragma once

#include <QRect>
#include <QSize>

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

}  // namespace velnoria
