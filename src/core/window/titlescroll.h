#pragma once

#include <QString>

namespace korvana {

// The dealer's advertising line shown in the title bar at start.
QString advertisingCaption();

// One step of the scrolling title: the first character goes to the end.
// A caption of one character or none has nothing to scroll and comes back
// as it was. A character outside the basic plane moves as a whole, so the
// title never shows half of it.
QString scrollCaption(const QString &caption);

} // namespace korvana
