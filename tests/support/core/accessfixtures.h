#pragma once

// The Access fixtures of tests/data/access and the tables they must give.
#include "core/store/directorykind.h"

#include <QString>
#include <QStringList>

namespace korvana::test {

// The fixtures: a Jet4 file, and a Jet3 one whose text is in Windows-1251.
inline const QString kJet4 = QStringLiteral("kadu-jet4");
inline const QString kJet3 = QStringLiteral("cp1251-jet3");

QString accessFixture(const QString &name); // the path of name + ".mdb"
// A writable copy of a fixture at `path`; the test stops if it cannot be made.
void copyAccessFixture(const QString &name, const QString &path);
// Renames a table of a Jet4 file by changing its catalog name, stored once
// in UTF-16; the names must be of one length. False when that fails.
bool renameAccessTable(const QString &path, const QString &from, const QString &to);
// The expected lines of one table of a fixture (its CSV file).
QStringList expectedCsv(const QString &fixture, DirectoryKind kind);
// Queries on a directory file opened read-only, so that looking changes nothing.
// The first column of every row of a query, in the order SQLite gives them.
QStringList strings(const QString &dbPath, const QString &sql);
// A table as the CSV files have it: the field names, then one line a row in
// rowid order, every value quoted with inner quotes doubled, NULL an empty
// field without quotes.
QStringList tableCsv(const QString &dbPath, DirectoryKind kind);
// Every personal row with its rowid, NULL and "" told apart.
QStringList personalRows(const QString &dbPath);
// The personal rows (those `where` chooses) with their rowid, each value as
// its type and bytes: "7 text:X'C8E2' null:NULL ...".
QStringList personalBytes(const QString &dbPath, const QString &where = QStringLiteral("1"));

} // namespace korvana::test
