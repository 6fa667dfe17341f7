#pragma once

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

} // namespace korvana::test
