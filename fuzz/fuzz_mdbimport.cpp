// The Access importer on damaged files: the input is written as an .mdb in
// a temporary folder and imported into a kadu.db beside it.
#include "core/import/mdbimport.h"
#include "core/store/store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>

using namespace korvana;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir(QDir::temp().filePath(QStringLiteral("korvana-fuzz-mdb-XXXXXX")));
    const QString mdb = dir.filePath(QStringLiteral("kadu.mdb"));
    const QString db = dir.filePath(QStringLiteral("kadu.db"));
    QFile::remove(db);
    {
        QFile out(mdb);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || out.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
            std::abort();
    }
    const ImportResult result = importAccessFile(mdb, db, {}, ExistingDirectory::Refuse);
    if (!result.ok) {
        // A failed import says why and leaves no directory file behind.
        if (result.error.isEmpty() || QFile::exists(db))
            std::abort();
        return 0;
    }
    // A finished import is a sound directory file.
    auto store = Store::open(db);
    if (!store)
        std::abort();
    Statement check(store->handle(), QStringLiteral("PRAGMA integrity_check"));
    if (check.step() != SQLITE_ROW || check.column(0).toString() != QLatin1String("ok"))
        std::abort();
    if (store->tableRowCount(DirectoryKind::Residents) != result.residents
        || store->tableRowCount(DirectoryKind::Enterprises) != result.enterprises
        || store->tableRowCount(DirectoryKind::Personal) != result.personal)
        std::abort();
    return 0;
}
