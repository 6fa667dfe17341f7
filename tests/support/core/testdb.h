#pragma once

#include "core/search/searchquery.h"
#include "core/store/directorykind.h"
#include "core/store/store.h"

#include <QTemporaryDir>
#include <QVariantList>

#include <memory>

namespace korvana::test {

// A fresh directory file in a temporary folder, filled from literal rows.
struct TestDb {
    QTemporaryDir dir;
    std::unique_ptr<Store> store;

    TestDb();
    QString path() const { return dir.filePath(QStringLiteral("kadu.db")); }
    void add(DirectoryKind kind, const QVariantList &values);
    // Closes the file and opens it again, as a restart does.
    void reopen();
};

// Rows of a small fictional residents directory used across tests.
void addSampleTown(TestDb &db);

// `form` with the query's table (%1), where clause (%2) and order (%3), its values bound.
std::unique_ptr<Statement> queryStatement(sqlite3 *db, const SearchQuery &q, const char *form);
// The rows a plain scan of the folded columns finds, in the query's order:
// what every route of a search must find.
QList<qint64> scanRowIds(sqlite3 *db, const SearchQuery &q);

// Another program's connection to a file: plain SQLite, autocommit.
struct OtherProgram {
    sqlite3 *db = nullptr;
    explicit OtherProgram(const QString &path);
    ~OtherProgram();
    int exec(const QString &sql);
};

} // namespace korvana::test
