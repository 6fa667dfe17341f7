// Import of the town's Access files into the directory store.
#include "core/import/mdbimport.h"
#include "core/store/directorykind.h"
#include "core/store/store.h"
#include "accessfixtures.h"
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
    test::copyAccessFixture(fixture, mdb);
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
        QCOMPARE(test::tableCsv(dbOf(file), DirectoryKind(kind)), test::expectedCsv(file, DirectoryKind(kind)));
    }

    // The folded shadow columns make the imported text searchable without regard to case or ё.
    void foldedColumnsFindImportedRows()
    {
        const QString jet3 = dbOf(QStringLiteral("cp1251-jet3"));
        const QString jet4 = dbOf(QStringLiteral("kadu-jet4"));
        const QString family = QStringLiteral("SELECT Family FROM NASELEN WHERE k_family GLOB '%1' ORDER BY rowid");
        QCOMPARE(test::strings(jet3, family.arg("петр*")), (QStringList{"ПЕТРОВ П.П.", "петрова н.н."}));
        QCOMPARE(test::strings(jet3, family.arg("елк*")), (QStringList{"Ёлкина А.Б.", "ёлкин в.в."}));
        QCOMPARE(test::strings(jet4, family.arg("тест_*")), QStringList{"Тест_100%"});
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
        QVERIFY(test::renameAccessTable(mdb, QStringLiteral("Note"), QStringLiteral("Nota")));
        QVERIFY(test::renameAccessTable(mdb, QStringLiteral("NASELEN"), QStringLiteral("naselen")));
        const QByteArray before = readBytes(mdb);
        ImportResult r = importAccessFile(mdb, db);
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(r.warnings.size() == 1 && r.warnings[0].contains(QStringLiteral("Note")) && r.warnings[0].contains("kadu.mdb"));
        QCOMPARE((QList<qint64>{r.residents, r.enterprises, r.personal}), (QList<qint64>{120, 40, 0}));
        QCOMPARE(Store::open(db)->tableRowCount(DirectoryKind::Personal), 0);
        QCOMPARE(readBytes(mdb), before);

        // Without any of the three there is no directory to make.
        QVERIFY(QFile::remove(db));
        QVERIFY(test::renameAccessTable(mdb, QStringLiteral("naselen"), QStringLiteral("naselex")));
        QVERIFY(test::renameAccessTable(mdb, QStringLiteral("PREDPR"), QStringLiteral("PREDPX")));
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
        const QString jet4 = kFixtures + QStringLiteral("kadu-jet4.mdb");
        QString out, err;
        auto run = [&](const QStringList &args) {
            QProcess p;
            p.start(QStringLiteral(KORVANA_IMPORT_EXE), args);
            if (!p.waitForFinished(60000))
                return -1;
            out = QString::fromUtf8(p.readAllStandardOutput());
            err = QString::fromUtf8(p.readAllStandardError());
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        auto personal = [&db] { return test::tableCsv(db, DirectoryKind::Personal); };
        QCOMPARE(run({jet4, db}), 0);
        QVERIFY2(err.contains("163"), qPrintable(err));
        const QByteArray first = readBytes(db);
        QVERIFY(run({jet3, db}) != 0);
        QVERIFY2(err.contains(QStringLiteral("уже существует")), qPrintable(err));
        QCOMPARE(readBytes(db), first);

        // --force would drop the three personal entries: only when confirmed.
        QCOMPARE(run({QStringLiteral("--force"), jet3, db}), 1);
        QVERIFY2(err.contains(QStringLiteral("«Мой» (3)")) && err.contains(QStringLiteral("--yes")), qPrintable(err));
        QCOMPARE(readBytes(db), first);
        // --update keeps them and adds the one of the new file's it lacks.
        QCOMPARE(run({QStringLiteral("--update"), jet3, db}), 0);
        QVERIFY2(out.contains(QStringLiteral("население 10, предприятия 6 строк; справочник «Мой»: сохранено 3, добавлено 1")),
                 qPrintable(out));
        QCOMPARE(personal(), test::expectedCsv(QStringLiteral("kadu-jet4"), DirectoryKind::Personal)
                                 + QStringList{test::expectedCsv(QStringLiteral("cp1251-jet3"), DirectoryKind::Personal).at(2)});
        const QByteArray updated = readBytes(db);
        QCOMPARE(run({QStringLiteral("--update"), kFixtures + QStringLiteral("missing.mdb"), db}), 1);
        QVERIFY2(err.contains(QStringLiteral("Ошибка: Файл ")) && err.contains(QStringLiteral("missing.mdb не найден")), qPrintable(err));
        QCOMPARE(readBytes(db), updated);
        QCOMPARE(run({QStringLiteral("--force"), QStringLiteral("--yes"), jet4, db}), 0);
        QVERIFY2(err.contains(QStringLiteral("«Мой» из файла")) && err.contains(QStringLiteral("удалены: 4")), qPrintable(err));
        QCOMPARE(personal(), test::expectedCsv(QStringLiteral("kadu-jet4"), DirectoryKind::Personal));

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
