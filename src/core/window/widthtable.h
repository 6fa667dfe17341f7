#pragma once

#include <array>

namespace korvana {

// The grid column width table: rows 1..3 (DBGrid1 residents, DBGrid2
// enterprises, DBGrid3 personal), cells 0..8 of single-precision twips,
// normalised to a window 8000 twips wide. Cell (1, 7) holds the window's
// outer width at the last layout pass that was not minimised. The width
// file that keeps it between runs is read and written in core/app/sidefiles.
class WGridCol {
public:
    static constexpr int kGrids = 3;
    static constexpr int kCells = 9;
    static constexpr int kWindowWidthGrid = 1;
    static constexpr int kWindowWidthCell = 7;

    WGridCol() = default;              // every cell 0
    static WGridCol withDefaults();    // the built-in column widths

    // Number of columns of grid g (7, 8, 7); 0 for a grid outside 1..3.
    static int columnCount(int grid);

    // Out-of-range grid or cell: cell() gives 0 and setCell() does nothing.
    float cell(int grid, int index) const;
    void setCell(int grid, int index, float value);

    float windowWidth() const { return cell(kWindowWidthGrid, kWindowWidthCell); }
    void setWindowWidth(float w) { setCell(kWindowWidthGrid, kWindowWidthCell, w); }

    // Resets the column cells to the built-in widths; other cells keep theirs.
    void setDefaults();

    struct CellRef { int grid; int cell; };

    friend bool operator==(const WGridCol &, const WGridCol &) = default;

private:
    std::array<std::array<float, kCells>, kGrids> m_cells{};
};

} // namespace korvana
