// The two side files as a user may leave them: any bytes, any encoding,
// any line endings. Both readers take the same input.
#include "core/app/sidefiles.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

using namespace korvana;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));

    const MyNumbers mine = parseMyNumbers(content);
    if (!mine.present || mine.exchangeIndex < 0 || mine.exchangeIndex >= kExchangeCount
        || mine.ownNumbers.size() > kMaxOwnNumbers)
        std::abort();
    if (mine.port && (*mine.port < 1 || *mine.port > 9 || !mine.modem))
        std::abort();
    for (const QString &number : mine.ownNumbers)
        if (number.size() > kMaxSideLineBytes)
            std::abort();

    WGridCol table = WGridCol::withDefaults();
    const int taken = readWidthContent(table, content);
    if (taken < 0 || taken > kWidthFileCells)
        std::abort();
    for (const WGridCol::CellRef &ref : widthFileOrder()) {
        const float w = table.cell(ref.grid, ref.cell);
        if (!std::isfinite(w) || !(w > 0.0f) || w > kMaxStoredWidth)
            std::abort();
    }
    // What is written back reads back as the same whole widths.
    const QByteArray written = widthFileContent(table);
    WGridCol again;
    readWidthContent(again, written);
    for (const WGridCol::CellRef &ref : widthFileOrder())
        if (again.cell(ref.grid, ref.cell) != std::floor(table.cell(ref.grid, ref.cell))
            && std::floor(table.cell(ref.grid, ref.cell)) >= 1.0f)
            std::abort();
    return 0;
}
