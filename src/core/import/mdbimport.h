#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace korvana {

// Called while rows are copied: rows done so far and the rows the source
// declares in all three tables. Returning false cancels the import.
using ImportProgress = std::function<bool(qint64 done, qint64 total)>;

// What an import does with a directory file already at its target.
enum class ExistingDirectory {
    Refuse,                // fail, leaving the file as it is
    ReplaceUnlessPersonal, // replace it only when its personal directory is empty
    Replace,               // replace it, personal directory and all
};

struct ImportResult {
    bool ok = false;
    bool cancelled = false;
    QString error;        // for the user, when !ok
    QStringList warnings; // for the user, also on success: missing or empty tables and fields
    // Rows read from the source's tables.
    qint64 residents = 0;
    qint64 enterprises = 0;
    qint64 personal = 0;
    qint64 personalKept = 0;    // an update: the user's entries carried over
    qint64 personalAdded = 0;   // an update: the source's entries added to them
    // An update that found the file already holding this edition (another
    // update took it while this one waited) and left it as it was.
    bool unchanged = false;
    // A replacement: the entries of the file replaced, or that a refused one would drop.
    qint64 personalDropped = 0;
};

// Copies the tables NASELEN, PREDPR and Note of an Access (Jet3 or Jet4) file
// into a new directory file at dbPath, every field as text, and records the
// edition (the source's name, size, time, digest and row counts) in it. The
// source is only read. The new file is written under a temporary name in the
// same folder and renamed to dbPath once complete, so a failed or cancelled
// import leaves no file at dbPath, and a file already there as it was.
// A table missing from the source leaves its directory empty, with a warning;
// a source holding none of the three tables is an error.
ImportResult importAccessFile(const QString &mdbPath, const QString &dbPath,
                              const ImportProgress &progress = {},
                              ExistingDirectory existing = ExistingDirectory::Refuse);

// Takes a new edition of the Access file into the existing directory file at
// dbPath: NASELEN and PREDPR become exactly the source's, the personal
// directory stays as it is (rows, order and values), and the source's Note
// rows that it does not already hold (all seven fields equal) are added at
// its end. All or nothing: the new file is built beside dbPath and renamed
// over it only when complete, while the old file's write lock is held; on
// any failure dbPath is left byte for byte as it was. A source without
// NASELEN or PREDPR is an error here, not an empty directory.
ImportResult updateFromAccessFile(const QString &mdbPath, const QString &dbPath,
                                  const ImportProgress &progress = {});

} // namespace korvana
