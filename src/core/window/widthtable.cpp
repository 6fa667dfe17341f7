#include "core/window/widthtable.h"

namespace korvana {

namespace {

constexpr std::array<float, 7> kDefaultPublicWidths = {900, 2800, 2400, 730, 520, 730, 520};
constexpr std::array<float, 8> kDefaultEnterpriseWidths = {3150, 680, 2130, 1630, 540, 345, 345, 45};

bool validCell(int grid, int index)
{
    return grid >= 1 && grid <= WGridCol::kGrids && index >= 0 && index < WGridCol::kCells;
}

} // namespace

WGridCol WGridCol::withDefaults()
{
    WGridCol table;
    table.setDefaults();
    return table;
}

int WGridCol::columnCount(int grid)
{
    switch (grid) {
    case 1:
    case 3:
        return int(kDefaultPublicWidths.size());
    case 2:
        return int(kDefaultEnterpriseWidths.size());
    default:
        return 0;
    }
}

float WGridCol::cell(int grid, int index) const
{
    return validCell(grid, index) ? m_cells[grid - 1][index] : 0.0f;
}

void WGridCol::setCell(int grid, int index, float value)
{
    if (validCell(grid, index))
        m_cells[grid - 1][index] = value;
}

void WGridCol::setDefaults()
{
    for (int c = 0; c < int(kDefaultPublicWidths.size()); ++c) {
        setCell(1, c, kDefaultPublicWidths[c]);
        setCell(3, c, kDefaultPublicWidths[c]);
    }
    for (int c = 0; c < int(kDefaultEnterpriseWidths.size()); ++c)
        setCell(2, c, kDefaultEnterpriseWidths[c]);
}

} // namespace korvana
