#pragma once

#include <QList>
#include <QRect>
#include <QString>

class QSettings;

namespace korvana {

// The main window's outer placement in twips, border and title bar included.
struct Placement {
    float left = 1000.0f;
    float top = 1000.0f;
    float width = 9970.0f;
    float height = 6990.0f;

    friend bool operator==(const Placement &, const Placement &) = default;
};

// Section and keys in the settings store.
inline constexpr QLatin1String kPlacementGroup("Settings");
inline constexpr QLatin1String kPlacementLeftKey("MainLeft");
inline constexpr QLatin1String kPlacementTopKey("MainTop");
inline constexpr QLatin1String kPlacementWidthKey("MainWidth");
inline constexpr QLatin1String kPlacementHeightKey("MainHeight");

// Reads the placement from group "Settings" of `settings`. An absent key
// gives the default of Placement; a stored text that is not a number keeps
// that property's value in `current` (the window's placement before).
Placement readPlacement(const QSettings &settings, const Placement &current);

// Stores the four values as text (left, top, width, height), each as
// numberText() gives it. The caller skips this for a minimised window.
void writePlacement(QSettings &settings, const Placement &placement);

// A single-precision value as decimal text: the shortest text that reads
// back as the same value, never with an exponent, a whole number without
// a decimal point, a negative one with a leading "-".
QString numberText(float value);

// The smallest client area, in twips, at which the search panel, the record
// count and one grid row stay usable. The width is the right edge of the
// count's frame (Frame6: 5760 + 975); the height is the client height of a
// window at the smallest outer height the layout still stretches the grids
// to (3600, grids 600 high: a heading and one row) less the design's title
// bar and border (6990 - 6585).
inline constexpr float kMinimumClientWidth = 6735.0f;
inline constexpr float kMinimumClientHeight = 3600.0f - (6990.0f - 6585.0f);

// The placement the window starts with. A stored one that this program
// cannot have left is replaced by the design placement (Placement{}, its
// left and top measured from the first screen's top-left corner): one
// smaller than the minimum client area, or not finite, or larger than
// every screen of `availableScreens` (pixel rectangles at `dpi` logical dots
// per inch, the primary screen first), or overlapping none of them (the
// monitor it was on is gone). Without any screen only the size is checked.
Placement rescuePlacement(const Placement &placement, const QList<QRect> &availableScreens,
                          double dpi);

} // namespace korvana
