#pragma once

#include "core/window/columnwidths.h"

#include <array>
#include <optional>

namespace korvana {

// What the layout pass reads of the window, in twips.
struct LayoutInput {
    bool minimised = false;
    float width = 0.0f;  // W, the window's outer width
    float height = 0.0f; // H, the window's outer height
    bool dialPanelVisible = true;  // Frame2
    float pictureWidth = 2775.0f;  // Picture2
    float pictureLeft = 7080.0f;
    bool pictureVisible = true;
};

// What the pass sets. Heights and the picture's Left and visibility are
// nullopt where the pass leaves them as they are. The same height and width
// go to each of the three grid frames (Frame4(0..2)) and to each of the
// three grids. The window applies, in this order: heights, widths, the
// picture's Left before its visibility, the column widths in their order,
// the text sizes, then it refreshes DBGrid1, DBGrid2 and DBGrid3.
struct LayoutPlan {
    std::optional<float> tabStripHeight;
    std::optional<float> frameHeight;
    std::optional<float> gridHeight;
    float tabStripWidth = 0.0f;
    float frameWidth = 0.0f;
    float gridWidth = 0.0f;
    float bandWidth = 0.0f; // Image1(0)
    std::optional<float> pictureLeft;
    std::optional<bool> pictureVisible;
    std::array<ColumnWidth, kGridColumnTotal> columns{};
    // Cell text size in whole points, indexed by grid - 1 (DBGrid1, DBGrid2,
    // DBGrid3); the column headings keep their own typeface.
    std::array<int, 3> cellPointSize{};
};

// The layout pass on a resize. A minimised window gives nullopt and leaves
// `table` alone; otherwise the pass records W in the table's window-width
// cell (1, 7) and returns what to set. Single-precision arithmetic.
std::optional<LayoutPlan> layoutPass(const LayoutInput &in, WGridCol &table);

} // namespace korvana
