#pragma once

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

// ---------------------------------------------------------------------------
// The grid column width table: rows 1..3 (DBGrid1 residents, DBGrid2
// enterprises, DBGrid3 personal), cells 0..8 of single-precision twips,
// normalised to a window 8000 twips wide. Cell (1, 7) holds the window's
// outer width at the last layout pass that was not minimised.
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

    // Reads the first 22 lines of a width file over the column cells, in the
    // file order (grid 1, grid 3, grid 2). Each line is taken on its own: a
    // missing, non-numeric or non-positive line (or one above
    // kMaxStoredWidth) leaves its cell as it was, the others still count.
    // Returns the number of cells taken from the file (0 when it is absent).
    int readFile(const QString &path);
    // The same reading of a width file's content already in memory.
    int readContent(const QByteArray &content);

    // The 24 lines of the width file: the whole-number part (floor) of each
    // column cell in file order, cell (1, 7), then 0; each line CR LF.
    QByteArray fileContent() const;

    // Replaces `path` atomically with fileContent(): the data is synced and
    // renamed over the old file, so a failed or interrupted write leaves the
    // previous file as it was. Returns false (and the reason in *error) when
    // the file cannot be written; never throws.
    bool writeFile(const QString &path, QString *error = nullptr) const;

    // Largest width taken from a file: far wider than any screen.
    static constexpr float kMaxStoredWidth = 1.0e6f;

    // The cells of the width file, in its order: {grid, cell}.
    struct CellRef { int grid; int cell; };
    static constexpr int kFileColumnCells = 22;
    static const std::array<CellRef, kFileColumnCells> &fileOrder();

    friend bool operator==(const WGridCol &, const WGridCol &) = default;

private:
    int readFrom(QIODevice &in);

    std::array<std::array<float, kCells>, kGrids> m_cells{};
};

// The table a window starts with: the defaults, then the file at `path`.
WGridCol loadWidthTable(const QString &path);

} // namespace korvana
