#include "core/window/columnwidths.h"

namespace korvana {

namespace {

constexpr float kReferenceWidth = 8000.0f;
constexpr float kStretchDivisor = 4000.0f;

} // namespace

float widthStretch(float windowWidth)
{
    return windowWidth > kReferenceWidth ? (windowWidth - kReferenceWidth) / kStretchDivisor
                                         : 0.0f;
}

float columnScale(float windowWidth)
{
    return widthStretch(windowWidth) / 2.0f + 1.0f;
}

std::array<ColumnWidth, kGridColumnTotal> scaledColumnWidths(const WGridCol &table,
                                                             float windowWidth)
{
    const float scale = columnScale(windowWidth);
    std::array<ColumnWidth, kGridColumnTotal> widths{};
    int i = 0;
    const auto add = [&](int grid, int column) {
        widths[i++] = {grid, column, table.cell(grid, column) * scale};
    };
    for (int column = 0; column < WGridCol::columnCount(1); ++column) {
        add(1, column);
        add(3, column);
        add(2, column);
    }
    add(2, WGridCol::columnCount(2) - 1);
    return widths;
}

bool storeColumnWidth(WGridCol &table, int grid, int column, float shownWidth,
                      float windowWidth, bool minimised)
{
    if (minimised || column < 0 || column >= WGridCol::columnCount(grid))
        return false;
    table.setCell(grid, column, shownWidth / columnScale(windowWidth));
    return true;
}

} // namespace korvana
