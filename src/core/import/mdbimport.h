#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace korvana {

// Called while rows are copied: rows done so far and the rows the source
// declares in all three tables. Returning false cancels the import.
using ImportProgress = std::function<bool(qint64 done, qint64 total)>;

struct ImportResult {
    bool ok = false;
    bool cancelled = false;
    QString error;        // for the user, when !ok
    QStringList warnings; // for the user, also on success: missing or empty tables and fields
    qint64 residents = 0;
    qint64 enterprises = 0;
    qint64 personal = 0;
};

// Copies the tables NASELEN, PREDPR and Note of an Access (Jet3 or Jet4) file
// into a new directory file at dbPath, every field as text. The source is only
// read. The new file is written under a temporary name in the same folder and
// renamed to dbPath once complete, so a failed or cancelled import leaves no
// file at dbPath (and, without overwrite, never replaces one that is there).
// A table missing from the source leaves its directory empty, with a warning;
// a source holding none of the three tables is an error.
ImportResult importAccessFile(const QString &mdbPath, const QString &dbPath,
                              const ImportProgress &progress = {}, bool overwrite = false);

} // namespace korvana
