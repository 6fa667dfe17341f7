#pragma once

#include <QRect>
#include <QRectF>

#include <cmath>

// Positions and sizes of the window's controls are kept in twips
// (1/1440 inch); the screen wants pixels at its logical resolution.
namespace korvana {

inline constexpr double kTwipsPerInch = 1440.0;

// Rounded to the nearest pixel; halves go away from zero.
inline int twipsToPixels(double twips, double logicalDpi)
{
    return static_cast<int>(std::lround(twips * logicalDpi / kTwipsPerInch));
}

inline double pixelsToTwips(double pixels, double logicalDpi)
{
    return pixels * kTwipsPerInch / logicalDpi;
}

// Each edge is rounded on its own, so controls that touch in twips also
// touch on the screen.
inline QRect twipsToPixels(const QRectF &twips, double logicalDpi)
{
    const int left = twipsToPixels(twips.left(), logicalDpi);
    const int top = twipsToPixels(twips.top(), logicalDpi);
    const int right = twipsToPixels(twips.left() + twips.width(), logicalDpi);
    const int bottom = twipsToPixels(twips.top() + twips.height(), logicalDpi);
    return QRect(left, top, right - left, bottom - top);
}

inline QRectF pixelsToTwips(const QRect &pixels, double logicalDpi)
{
    return QRectF(pixelsToTwips(pixels.x(), logicalDpi), pixelsToTwips(pixels.y(), logicalDpi),
                  pixelsToTwips(pixels.width(), logicalDpi), pixelsToTwips(pixels.height(), logicalDpi));
}

} // namespace korvana
