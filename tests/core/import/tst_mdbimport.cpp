// Import of the town's Access files into the directory store.
#include "core/import/mdbimport.h"
#include "core/store/directorykind.h"
#include "core/store/store.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <glib.h>
#include <mdbtools.h>

using namespace korvana;
using korvana::test::readBytes;
using korvana::test::writeBytes;

namespace {

const QString kFixtures = QStringLiteral(KORVANA_TEST_DATA "/access/");

// The first column of every result row, in the order SQLite gives them.
QStringList strings(Store &store, const QString &sql)
{
    QStringList out;
    Statement *s = store.statement(sql);
    if (!s)
        return {QStringLiteral("<bad sql>")};
    Statement::Use use(*s);
    while (s->step() == 100 /* SQLITE_ROW */)
        out << s->column(0).toString();
    return out;
}

// A table as the fixtures' CSV lines: every value quoted with inner quotes
// doubled, NULL an empty unquoted field, "" an empty string.
QStringList csvLines(Store &store, DirectoryKind kind)
{
    const TableInfo &t = tableInfo(kind);
    QStringList values;
    for (const QString &field : t.fields)
        values << QStringLiteral("coalesce('\"' || replace(%1, '\"', '\"\"') || '\"', '')").arg(field);
    return QStringList{t.fields.join(u',')}
        + strings(store, QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(values.join(" || ',' || "), t.table));
}

// The page of a table's definition, as libmdb finds it.
long tableDefPage(const QString &mdbPath, const char *table)
{
    MdbHandle *mdb = mdb_open(QFile::encodeName(mdbPath).constData(), MDB_NOFLAGS);
    MdbCatalogEntry *e = mdb && mdb_read_catalog(mdb, MDB_TABLE) ? mdb_get_catalogentry_by_name(mdb, table) : nullptr;
    const long page = e ? long(e->table_pg) : -1;
    if (mdb)
        mdb_close(mdb);
    return page;
}

// Renames a Jet4 table in a copy by changing its catalog name (stored once, UTF-16).
bool renameTable(const QString &path, const QString &from, const QString &to)
{
    QByteArray bytes = readBytes(path);
    const auto encode = [](const QString &s) { return QByteArray(reinterpret_cast<const char *>(s.utf16()), s.size() * 2); };
    const qsizetype at = bytes.indexOf(encode(from));
    if (at < 0 || bytes.indexOf(encode(from), at + 1) >= 0)
        return false;
    bytes.replace(at, encode(to).size(), encode(to));
    return writeBytes(path, bytes);
}

QStringList leftovers(const QString &dir)
{
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden);
    names.removeAll(QStringLiteral("kadu.mdb"));
    return names;
}

// A writable copy of a fixture, named as the town's file.
QString copyFixture(const QTemporaryDir &dir, const QString &fixture)
{
    const QString mdb = dir.filePath(QStringLiteral("kadu.mdb"));
    if (!QFile::copy(kFixtures + fixture + QStringLiteral(".mdb"), mdb)
        || !QFile::setPermissions(mdb, QFile::ReadOwner | QFile::WriteOwner))
        qFatal("cannot copy %s", qPrintable(fixture));
    return mdb;
}

} // namespace

class TestMdbImport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        for (const QString &name : {QStringLiteral("kadu-jet4"), QStringLiteral("cp1251-jet3")}) {
            QList<QPair<qint64, qint64>> calls;
            const ImportResult r = importAccessFile(kFixtures + name + QStringLiteral(".mdb"), dbOf(name),
                                                    [&](qint64 done, qint64 total) {
                                                        calls << qMakePair(done, total);
                                                        return true;
                                                    });
            QVERIFY2(r.ok && r.warnings.isEmpty(), qPrintable(r.error + r.warnings.join(u'\n')));
            // Progress rises to the total the file declares and ends there.
            const qint64 total = r.residents + r.enterprises + r.personal;
            QCOMPARE(calls.value(calls.size() - 1), qMakePair(total, total));
            for (int i = 1; i < calls.size(); ++i)
                QVERIFY(calls[i].first >= calls[i - 1].first && calls[i].second == total);
        }
    }

    void everyValueMatchesTheExpectedTable_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("kind");
        for (const char *file : {"kadu-jet4", "cp1251-jet3"}) {
            for (DirectoryKind kind : {DirectoryKind::Residents, DirectoryKind::Enterprises, DirectoryKind::Personal})
                QTest::addRow("%s %s", file, qPrintable(tableInfo(kind).table)) << QString::fromLatin1(file) << int(kind);
        }
    }
    void everyValueMatchesTheExpectedTable()
    {
        QFETCH(QString, file);
        QFETCH(int, kind);
        const QString csv = kFixtures + file + u'.' + tableInfo(DirectoryKind(kind)).table + QStringLiteral(".csv");
        const QStringList expected = QString::fromUtf8(readBytes(csv)).split(u'\n', Qt::SkipEmptyParts);
        auto store = Store::open(dbOf(file));
        QVERIFY(store);
        QCOMPARE(csvLines(*store, DirectoryKind(kind)), expected);
    }

    // The folded shadow columns make the imported text searchable without regard to case or ё.
    void foldedColumnsFindImportedRows()
    {
        auto jet3 = Store::open(dbOf(QStringLiteral("cp1251-jet3")));
        auto jet4 = Store::open(dbOf(QStringLiteral("kadu-jet4")));
        QVERIFY(jet3 && jet4);
        const QString family = QStringLiteral("SELECT Family FROM NASELEN WHERE k_family GLOB '%1' ORDER BY rowid");
        QCOMPARE(strings(*jet3, family.arg("петр*")), (QStringList{"ПЕТРОВ П.П.", "петрова н.н."}));
        QCOMPARE(strings(*jet3, family.arg("елк*")), (QStringList{"Ёлкина А.Б.", "ёлкин в.в."}));
        QCOMPARE(strings(*jet4, family.arg("тест_*")), QStringList{"Тест_100%"});
    }

    void unreadableSourcesFailCleanly_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message");
        const QByteArray jet4 = readBytes(kFixtures + QStringLiteral("kadu-jet4.mdb"));
        QByteArray random(64 * 1024, '\0');
        QRandomGenerator gen(4711);
        for (char &c : random)
            c = char(gen.bounded(256));
        QTest::newRow("random bytes") << random << QStringLiteral("не является базой данных Access");
        QTest::newRow("empty file") << QByteArray() << QStringLiteral("не является базой данных Access");
        QTest::newRow("cut mid-page") << jet4.left(jet4.size() / 2 + 1000) << QStringLiteral("обрезан");
        QTest::newRow("cut at a page boundary") << jet4.left(jet4.size() / 2) << QStringLiteral("повреждён");
        QTest::newRow("Access header, random pages") << jet4.left(4096) + random << QString();
    }
    // A bad source: a message naming the file, no target, no temporary file, the source unchanged.
    void unreadableSourcesFailCleanly()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString mdb = dir.filePath(QStringLiteral("kadu.mdb"));
        QVERIFY(writeBytes(mdb, content));
        const ImportResult r = importAccessFile(mdb, dir.filePath(QStringLiteral("kadu.db")));
        QVERIFY(!r.ok);
        QVERIFY2(r.error.contains(QStringLiteral("kadu.mdb")) && r.error.contains(message), qPrintable(r.error));
        QCOMPARE(leftovers(dir.path()), QStringList());
        QCOMPARE(readBytes(mdb), content);
    }

    // A missing table leaves its directory empty; names match without regard to case.
    void missingTablesLeaveTheirDirectoryEmpty()
    {
        QTemporaryDir dir;
        const QString mdb = copyFixture(dir, QStringLiteral("kadu-jet4"));
        const QString db = dir.filePath(QStringLiteral("kadu.db"));
        QVERIFY(renameTable(mdb, QStringLiteral("Note"), QStringLiteral("Nota")));
        QVERIFY(renameTable(mdb, QStringLiteral("NASELEN"), QStringLiteral("naselen")));
        const QByteArray before = readBytes(mdb);
        ImportResult r = importAccessFile(mdb, db);
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(r.warnings.size() == 1 && r.warnings[0].contains(QStringLiteral("Note")) && r.warnings[0].contains("kadu.mdb"));
        QCOMPARE((QList<qint64>{r.residents, r.enterprises, r.personal}), (QList<qint64>{120, 40, 0}));
        QCOMPARE(Store::open(db)->tableRowCount(DirectoryKind::Personal), 0);
        QCOMPARE(readBytes(mdb), before);

        // Without any of the three there is no directory to make.
        QVERIFY(QFile::remove(db));
        QVERIFY(renameTable(mdb, QStringLiteral("naselen"), QStringLiteral("naselex")));
        QVERIFY(renameTable(mdb, QStringLiteral("PREDPR"), QStringLiteral("PREDPX")));
        r = importAccessFile(mdb, db);
        QVERIFY(!r.ok);
        QVERIFY2(r.error.contains(QStringLiteral("нет таблиц")), qPrintable(r.error));
        QVERIFY(!QFile::exists(db));
    }

    // A table that declares more rows than its pages hold: data was lost, nothing is made.
    void tableShortOfRowsIsDamage()
    {
        for (const bool jet3 : {false, true}) {
            QTemporaryDir dir;
            const QString mdb = copyFixture(dir, jet3 ? QStringLiteral("cp1251-jet3") : QStringLiteral("kadu-jet4"));
            const long tdef = tableDefPage(mdb, "Note");
            QVERIFY(tdef > 0);
            QByteArray bytes = readBytes(mdb);
            // The row count in the table definition page, at its Jet3 or Jet4 offset.
            qToLittleEndian<quint16>(5, bytes.data() + tdef * (jet3 ? 2048 : 4096) + (jet3 ? 12 : 16));
            QVERIFY(writeBytes(mdb, bytes));
            const ImportResult r = importAccessFile(mdb, dir.filePath(QStringLiteral("kadu.db")));
            QVERIFY(!r.ok);
            QVERIFY2(r.error.contains(QStringLiteral("повреждён")) && r.error.contains(QStringLiteral("Note")), qPrintable(r.error));
            QCOMPARE(leftovers(dir.path()), QStringList());
        }
    }

    void cancellingLeavesNothing()
    {
        for (const int cancelAtCall : {1, -1}) { // at the start, at the very end
            QTemporaryDir dir;
            int calls = 0;
            const ImportResult r = importAccessFile(kFixtures + QStringLiteral("kadu-jet4.mdb"), dir.filePath("kadu.db"),
                                                    [&](qint64 done, qint64 total) {
                                                        return cancelAtCall < 0 ? done < total : ++calls < cancelAtCall;
                                                    });
            QVERIFY(!r.ok && r.cancelled && !r.error.isEmpty());
            QCOMPARE(leftovers(dir.path()), QStringList());
        }
    }

    void commandLineTool()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("kadu.db"));
        const QString jet3 = kFixtures + QStringLiteral("cp1251-jet3.mdb");
        QString err;
        auto run = [&err](const QStringList &args) {
            QProcess p;
            p.start(QStringLiteral(KORVANA_IMPORT_EXE), args);
            if (!p.waitForFinished(60000))
                return -1;
            err = QString::fromUtf8(p.readAllStandardError());
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        QCOMPARE(run({kFixtures + QStringLiteral("kadu-jet4.mdb"), db}), 0);
        QVERIFY2(err.contains("163"), qPrintable(err));
        const QByteArray first = readBytes(db);
        QVERIFY(run({jet3, db}) != 0);
        QVERIFY2(err.contains(QStringLiteral("уже существует")), qPrintable(err));
        QCOMPARE(readBytes(db), first);
        QCOMPARE(run({QStringLiteral("--force"), jet3, db}), 0);
        QVERIFY(readBytes(db) != first);

        const QString text = dir.filePath(QStringLiteral("notes.mdb"));
        QVERIFY(writeBytes(text, "just text\n"));
        QVERIFY(run({text, dir.filePath(QStringLiteral("other.db"))}) != 0);
        QVERIFY2(err.contains(QStringLiteral("notes.mdb не является базой данных Access")), qPrintable(err));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("other.db"))));
        // Never over the source itself, even when told to overwrite.
        const QString copy = dir.filePath(QStringLiteral("kadu.mdb"));
        QVERIFY(QFile::copy(jet3, copy));
        QVERIFY(run({QStringLiteral("--force"), copy, copy}) != 0);
        QCOMPARE(readBytes(copy), readBytes(jet3));
    }

private:
    QString dbOf(const QString &fixture) const { return m_dir.filePath(fixture + QStringLiteral(".db")); }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestMdbImport)
#include "tst_mdbimport.moc"
