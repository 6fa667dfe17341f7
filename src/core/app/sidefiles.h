#pragma once

#include "core/window/widthtable.h"

#include <QString>
#include <QStringList>

class QIODevice;

#include <array>
#include <optional>

namespace korvana {

// Bare names of the two side files; the caller chooses their directory.
inline constexpr QLatin1String kMyNumbersFileName("kadumy.txt");
inline constexpr QLatin1String kWidthFileName("WGridCol.txt");

// Text to a single-precision number as the side files and the stored
// placement are read: blanks around the number are allowed, the decimal
// point or the system locale's decimal separator, no group separators.
// Non-numbers, infinities and NaN give nullopt.
std::optional<float> parseNumberText(const QString &text);

// Bounds on reading a side file: only the first kMaxSideLineBytes bytes of
// a line count (the rest of it is skipped), and reading stops after
// kMaxSideFileBytes bytes, far more than 101 lines of numbers and names.
inline constexpr qsizetype kMaxSideLineBytes = 256;
inline constexpr qint64 kMaxSideFileBytes = 64 * 1024;

// ---------------------------------------------------------------------------
// The my-numbers file: line 1 the exchange, line 2 the modem port, lines 3
// to 101 the user's own numbers. Read as UTF-8 when the used lines are
// valid UTF-8 (a byte-order mark is dropped), as Windows-1251 otherwise.
// A line ends at CR LF, at a CR alone or at an LF alone.

inline constexpr int kExchangeCount = 2;    // items of the exchange list
inline constexpr int kMaxOwnNumbers = 99;

struct MyNumbers {
    bool present = false;       // the file existed and could be read
    int exchangeIndex = 0;      // 0 .. kExchangeCount - 1
    // Port number chosen by line 2 (1 = Com1 .. 9 = Com9); nullopt keeps
    // the serial control's own port.
    std::optional<int> port;
    // False when line 2 says there is no modem ("0", another non-digit
    // first character, or an empty line): hide the dialing and modem panels.
    bool modem = true;
    QStringList ownNumbers;     // verbatim, at most kMaxOwnNumbers
};

// Reads the my-numbers file at `path`. A missing file (or one that is not a
// normal file, or cannot be opened) gives the defaults with present false.
// Faults are confined to their own item: a first digit beyond the exchange
// list keeps exchange 0, a missing second line keeps the port and the
// panels, and the own numbers are read in every case.
MyNumbers readMyNumbers(const QString &path);
// The same reading of a file's content already in memory.
MyNumbers parseMyNumbers(const QByteArray &content);

// The grid column width file: the 22 column cells of the table in file
// order (grid 1, grid 3, grid 2), then cell (1, 7) and a 0, one number a
// line, each line CR LF.

// Largest width taken from a file: far wider than any screen.
inline constexpr float kMaxStoredWidth = 1.0e6f;

// The column cells of the width file, in its order.
inline constexpr int kWidthFileCells = 22;
const std::array<WGridCol::CellRef, kWidthFileCells> &widthFileOrder();

// Reads the first 22 lines of a width file over the column cells, in the
// file order. Each line is taken on its own: a missing, non-numeric or
// non-positive line (or one above kMaxStoredWidth) leaves its cell as it
// was, the others still count. Returns the number of cells taken from the
// file (0 when it is absent).
int readWidthFile(WGridCol &table, const QString &path);
// The same reading of a width file's content already in memory.
int readWidthContent(WGridCol &table, const QByteArray &content);

// The 24 lines of the width file: the whole-number part (floor) of each
// column cell in file order, cell (1, 7), then 0.
QByteArray widthFileContent(const WGridCol &table);

// Replaces `path` atomically with widthFileContent(): the data is synced
// and renamed over the old file, so a failed or interrupted write leaves the
// previous file as it was. Returns false (and the reason in *error) when the
// file cannot be written; never throws.
bool writeWidthFile(const WGridCol &table, const QString &path, QString *error = nullptr);

// Makes a rename in `dir` durable; a failure here changes nothing on disk.
void syncDirectory(const QString &dir);

// The table a window starts with: the defaults, then the file at `path`.
WGridCol loadWidthTable(const QString &path);

} // namespace korvana
