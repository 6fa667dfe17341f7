#include "core/store/store.h"
#include "demotown/demotown.h"
#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

using namespace korvana;
using korvana::test::readBytes;

namespace {

QList<QVariantList> rowsOf(Store &store, const QString &sql)
{
    QList<QVariantList> out;
    Statement *s = store.statement(sql);
    if (!s)
        return out;
    Statement::Use use(*s);
    while (s->step() == SQLITE_ROW) {
        QVariantList row;
        for (int i = 0; i < s->columnCount(); ++i)
            row << s->column(i);
        out << row;
    }
    return out;
}

} // namespace

class TestDemoData : public QObject {
    Q_OBJECT

private slots:
    void sameSeedSameBytes()
    {
        QTemporaryDir dir;
        DemoTownOptions options;
        options.residents = 3000;
        options.enterprises = 300;
        options.seed = 7;
        QString error;
        QVERIFY2(writeDemoTown(dir.filePath("a.db"), options, &error), qPrintable(error));
        QVERIFY2(writeDemoTown(dir.filePath("b.db"), options, &error), qPrintable(error));
        options.seed = 8;
        QVERIFY2(writeDemoTown(dir.filePath("c.db"), options, &error), qPrintable(error));
        const QByteArray a = readBytes(dir.filePath("a.db"));
        QVERIFY(a.size() > 100000);
        QCOMPARE(readBytes(dir.filePath("b.db")), a);
        QVERIFY(readBytes(dir.filePath("c.db")) != a);

        // More residents do not reshuffle the enterprises: benchmarks at different sizes share a town.
        DemoTown small(11), large(11);
        for (int i = 0; i < 500; ++i)
            large.nextResident();
        for (int i = 0; i < 50; ++i)
            QCOMPARE(large.nextEnterprise(), small.nextEnterprise());
    }

    void foldedPrefixSearchFindsItsRows()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("kadu.db");
        DemoTownOptions options;
        options.residents = 5000;
        options.enterprises = 100;
        QVERIFY(writeDemoTown(path, options));
        auto store = Store::open(path);
        QVERIFY(store);
        const auto count = [&](const char *sql) { return rowsOf(*store, sql).value(0).value(0).toLongLong(); };
        QCOMPARE(store->tableRowCount(DirectoryKind::Residents), 5000);
        QCOMPARE(store->tableRowCount(DirectoryKind::Enterprises), 100);
        QCOMPARE(store->tableRowCount(DirectoryKind::Personal), 5);
        QCOMPARE(count("SELECT count(DISTINCT N_tel) FROM NASELEN"), 5000); // no shared lines

        // Counted here with Qt's own lower case, ё as е, over the stored names.
        int kov = 0, fedorov = 0, withYo = 0;
        for (const QVariantList &r : rowsOf(*store, "SELECT Family FROM NASELEN")) {
            const QString family = r[0].toString().toLower().replace(u'ё', u'е');
            kov += family.startsWith(u"ков");
            fedorov += family.startsWith(u"федоров");
            withYo += r[0].toString().startsWith(u"Фё");
        }
        QVERIFY(kov > 50 && withYo > 0);
        QCOMPARE(count("SELECT count(*) FROM NASELEN WHERE k_family GLOB 'ков*'"), kov);
        QCOMPARE(count("SELECT count(*) FROM NASELEN WHERE k_family GLOB 'федоров*'"), fedorov);

        // The indexes dropped for the load are all back in the file itself
        // (read without Store, whose open() would add missing ones).
        store.reset();
        sqlite3 *raw = nullptr;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt *q = nullptr;
        QCOMPARE(sqlite3_prepare_v2(raw, "SELECT count(*) FROM sqlite_master WHERE type = 'index'", -1, &q, nullptr),
                 SQLITE_OK);
        const int indexes = sqlite3_step(q) == SQLITE_ROW ? sqlite3_column_int(q, 0) : -1;
        sqlite3_finalize(q);
        sqlite3_close(raw);
        QCOMPARE(indexes, 21);
    }

    void refusesToClobberAndLeavesNoPartialFiles()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("kadu.db");
        QVERIFY(test::writeBytes(path, "precious"));
        DemoTownOptions options;
        options.residents = 0; // an empty town is a valid file too
        options.enterprises = 0;
        QString error;
        QVERIFY(!writeDemoTown(path, options, &error));
        QVERIFY(error.contains("exists"));
        QCOMPARE(readBytes(path), QByteArray("precious"));
        options.overwrite = true;
        QVERIFY2(writeDemoTown(path, options, &error), qPrintable(error));
        Store::OpenStatus status = Store::OpenStatus::Failed;
        QVERIFY(Store::open(path, &status) && status == Store::OpenStatus::Ok);
        // Readable by whoever may read any new file here, not private like a temporary file.
        QVERIFY(test::writeBytes(dir.filePath("plain"), {}));
        QCOMPARE(QFile::permissions(path), QFile::permissions(dir.filePath("plain")));

        QVERIFY(!writeDemoTown(dir.path(), options, &error)); // a directory is never replaced
        options.residents = -1;
        QVERIFY(!writeDemoTown(dir.filePath("neg.db"), options, &error));
        // Nothing but the finished file is left behind, temporary names included.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot),
                 (QStringList{"kadu.db", "plain"}));
    }
};

QTEST_GUILESS_MAIN(TestDemoData)
#include "tst_demodata.moc"
