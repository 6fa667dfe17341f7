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

// When the placement overlaps none of `availableScreens` (pixel rectangles
// at `dpi` logical dots per inch,
// the primary screen first), for example because the monitor it was on is
// gone, it is moved to the default left and top measured from the first
// screen's top-left corner, keeping its size. Otherwise, or without any
// screen, it is returned unchanged.
Placement keepOnScreen(const Placement &placement, const QList<QRect> &availableScreens,
                       double dpi);

} // namespace korvana
