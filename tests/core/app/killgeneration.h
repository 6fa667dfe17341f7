#pragma once

// What the kill helper writes in generation n, for it and the test alike.
#include "core/app/sidefiles.h"

namespace korvana::test {

inline WGridCol widthsOfGeneration(int n)
{
    WGridCol t;
    for (const WGridCol::CellRef &ref : widthFileOrder())
        t.setCell(ref.grid, ref.cell, float(1000 + n));
    t.setWindowWidth(float(9000 + n));
    return t;
}

inline QString entryName(int n) { return QStringLiteral("Запись %1").arg(n); }
inline QString editedName(int n) { return QStringLiteral("Правка %1").arg(n); }

} // namespace korvana::test
