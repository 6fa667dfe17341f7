#pragma once

#include <QString>

namespace korvana {

// At start-up, before the directory file is opened: when the Access file
// beside it is a new edition, asks once whether to take it in. Yes updates
// the public directories with the import's progress dialog, keeping the
// personal one; No keeps the directory as it is, and that file is not
// offered again. Nothing is asked when there is nothing new.
void offerNewEdition(const QString &mdbPath, const QString &dbPath);

} // namespace korvana
