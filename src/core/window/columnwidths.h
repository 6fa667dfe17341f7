#pragma once

#include "core/window/widthtable.h"

#include <array>

namespace korvana {

// The width scale of the grid columns for a window W twips wide (outer
// width), in single precision: WidthStretch is (W - 8000) / 4000 above
// 8000 and 0 otherwise; ColumnScale is WidthStretch / 2 + 1.
float widthStretch(float windowWidth);
float columnScale(float windowWidth);

// One column width to set: column `column` of grid `grid` (1 DBGrid1,
// 2 DBGrid2, 3 DBGrid3), in twips.
struct ColumnWidth {
    int grid;
    int column;
    float width;

    friend bool operator==(const ColumnWidth &, const ColumnWidth &) = default;
};

inline constexpr int kGridColumnTotal = 22; // 7 + 8 + 7

// Apply: the width every grid column gets at window width W, in the order
// they are set: for c = 0..6 column c of DBGrid1, DBGrid3, DBGrid2; then
// column 7 of DBGrid2. Each is the table cell times columnScale(W).
std::array<ColumnWidth, kGridColumnTotal> scaledColumnWidths(const WGridCol &table,
                                                             float windowWidth);

// Store, on a column resize by the user: the column's new width divided by
// columnScale(W) goes into the grid's own row. Does nothing when the window
// is minimised or the column is not one of the grid's (see
// WGridCol::columnCount). Returns whether a cell was written.
bool storeColumnWidth(WGridCol &table, int grid, int column, float shownWidth,
                      float windowWidth, bool minimised);

} // namespace korvana
