#include "core/window/layoutpass.h"

namespace korvana {

namespace {

constexpr float kHeightThreshold = 3595.0f;
constexpr float kTabStripHeightAllowance = 2225.0f;
constexpr float kFrameHeightAllowance = 2800.0f;
constexpr float kGridHeightAllowance = 3000.0f;

constexpr float kWidthThreshold = 4500.0f;
// Below the threshold the widths are those at W = 4500: 4500 minus the allowance.
constexpr float kTabStripWidthAllowance = 50.0f;
constexpr float kFrameWidthAllowance = 290.0f;
constexpr float kGridWidthAllowance = 340.0f;

constexpr float kPictureReference = 9500.0f;
constexpr float kPictureGap = 400.0f;

constexpr float kLargeTextWidth = 14000.0f;
constexpr float kMediumTextWidth = 11900.0f;

void placePicture(const LayoutInput &in, LayoutPlan &plan)
{
    const float w = in.width;
    const float p = in.pictureWidth;
    const float r = kPictureReference;
    if (in.dialPanelVisible) {
        if (w - p - r + kPictureGap > 0.0f) {
            plan.pictureLeft = (r + kPictureGap + w - p) / 2.0f;
            if (!in.pictureVisible)
                plan.pictureVisible = true;
        } else if (w - r > 0.0f) {
            plan.pictureVisible = false;
        } else {
            plan.pictureLeft = r - p;
            plan.pictureVisible = false;
        }
    } else if (w - r > 0.0f) {
        plan.pictureLeft = (r - p) + (w - r) / 2.0f;
        if (!in.pictureVisible)
            plan.pictureVisible = true;
    } else {
        plan.pictureLeft = r - p;
        plan.pictureVisible = true;
    }
}

} // namespace

std::optional<LayoutPlan> layoutPass(const LayoutInput &in, WGridCol &table)
{
    if (in.minimised)
        return std::nullopt;
    const float w = in.width;
    const float h = in.height;
    table.setWindowWidth(w);

    LayoutPlan plan;
    if (h > kHeightThreshold) {
        plan.tabStripHeight = h - kTabStripHeightAllowance;
        plan.frameHeight = h - kFrameHeightAllowance;
        plan.gridHeight = h - kGridHeightAllowance;
    }

    const float stretched = w < kWidthThreshold ? kWidthThreshold : w;
    plan.tabStripWidth = stretched - kTabStripWidthAllowance;
    plan.frameWidth = stretched - kFrameWidthAllowance;
    plan.gridWidth = stretched - kGridWidthAllowance;
    plan.bandWidth = stretched;

    placePicture(in, plan);
    plan.columns = scaledColumnWidths(table, w);

    if (w > kLargeTextWidth)
        plan.cellPointSize = {18, 14, 18};
    else if (w > kMediumTextWidth)
        plan.cellPointSize = {14, 12, 14};
    else
        plan.cellPointSize = {12, 8, 12};
    return plan;
}

} // namespace korvana
