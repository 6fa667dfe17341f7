#include "core/app/placement.h"

#include "core/app/sidefiles.h"
#include "core/window/twips.h"

#include <QRectF>
#include <QSettings>

#include <charconv>
#include <cmath>

namespace korvana {

namespace {

QString settingsKey(QLatin1String key)
{
    return kPlacementGroup + u'/' + key;
}

float readValue(const QSettings &settings, QLatin1String key, float fallback, float current)
{
    const QVariant stored = settings.value(settingsKey(key));
    if (!stored.isValid())
        return fallback;
    return parseNumberText(stored.toString()).value_or(current);
}

} // namespace

Placement readPlacement(const QSettings &settings, const Placement &current)
{
    const Placement defaults;
    Placement p;
    p.left = readValue(settings, kPlacementLeftKey, defaults.left, current.left);
    p.top = readValue(settings, kPlacementTopKey, defaults.top, current.top);
    p.width = readValue(settings, kPlacementWidthKey, defaults.width, current.width);
    p.height = readValue(settings, kPlacementHeightKey, defaults.height, current.height);
    return p;
}

void writePlacement(QSettings &settings, const Placement &placement)
{
    settings.setValue(settingsKey(kPlacementLeftKey), numberText(placement.left));
    settings.setValue(settingsKey(kPlacementTopKey), numberText(placement.top));
    settings.setValue(settingsKey(kPlacementWidthKey), numberText(placement.width));
    settings.setValue(settingsKey(kPlacementHeightKey), numberText(placement.height));
}

QString numberText(float value)
{
    if (value == 0.0f || !std::isfinite(value)) // -0 too; a window is never at NaN
        return QStringLiteral("0");
    char buffer[64]; // FLT_MAX in fixed notation takes 39 digits
    const char *end = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::fixed).ptr;
    return QString::fromLatin1(buffer, end - buffer);
}

Placement rescuePlacement(const Placement &placement, const QList<QRect> &availableScreens,
                          double dpi)
{
    const Placement defaults;
    Placement home = defaults;
    if (!availableScreens.isEmpty()) {
        const QRect &primary = availableScreens.front();
        home.left = float(pixelsToTwips(primary.left(), dpi) + defaults.left);
        home.top = float(pixelsToTwips(primary.top(), dpi) + defaults.top);
    }
    const Placement &p = placement;
    if (!std::isfinite(p.left) || !std::isfinite(p.top) || !std::isfinite(p.width)
        || !std::isfinite(p.height) || p.width < kMinimumClientWidth
        || p.height < kMinimumClientHeight)
        return home;
    if (availableScreens.isEmpty())
        return placement;
    // Far outside any screen the pixel conversion would overflow an int.
    constexpr double kFar = 1.0e8;
    if (std::abs(p.left) > kFar || std::abs(p.top) > kFar || p.width > kFar || p.height > kFar)
        return home;
    const QRect window = twipsToPixels(QRectF(p.left, p.top, p.width, p.height), dpi);
    bool fits = false, seen = false;
    for (const QRect &screen : availableScreens) {
        fits = fits || (window.width() <= screen.width() && window.height() <= screen.height());
        seen = seen || window.intersects(screen);
    }
    return fits && seen ? placement : home;
}

} // namespace korvana
