// Import of the town's Access files into a directory file, what a failed
// import or update leaves behind, and a new edition taken into a directory
// file in use: the public directories replaced, the personal one kept.
#include "core/import/edition.h"
#include "core/import/mdbimport.h"
#include "core/store/store.h"
#include "accessfixtures.h"
#include "testdb.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <mdbtools.h>
#include <sqlite3.h>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>


using namespace korvana;
using namespace korvana::test;

namespace {

// A fixture whose Note table declares more rows than its pages hold.
QByteArray noteShortOfRows(const QString &fixture)
{
    MdbHandle *mdb = mdb_open(QFile::encodeName(accessFixture(fixture)).constData(), MDB_NOFLAGS);
    MdbCatalogEntry *e = mdb && mdb_read_catalog(mdb, MDB_TABLE) ? mdb_get_catalogentry_by_name(mdb, "Note") : nullptr;
    const long page = e ? long(e->table_pg) : -1;
    if (mdb)
        mdb_close(mdb);
    QByteArray bytes = readBytes(accessFixture(fixture));
    const bool jet3 = fixture == kJet3; // the row count sits at another offset of another page size
    if (page > 0)
        qToLittleEndian<quint16>(5, bytes.data() + page * (jet3 ? 2048 : 4096) + (jet3 ? 12 : 16));
    return bytes;
}

QMap<QString, QByteArray> folderContent(const QString &dir)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::Hidden))
        files[name] = readBytes(dir + u'/' + name);
    return files;
}

// kadu.db made from the Jet3 file, holding personal entries of the user's:
// one typed in, an imported one edited (its folded name too), and a gap
// where one was deleted.
bool makeDirectory(const QString &db)
{
    if (!importAccessFile(accessFixture(kJet3), db).ok)
        return false;
    auto store = Store::open(db);
    return store && store->insertRow(DirectoryKind::Personal, {QStringLiteral("20200"), QStringLiteral("Удалённый")})
        && store->insertRow(DirectoryKind::Personal, {QStringLiteral("20100"), QStringLiteral("Мама")})
        && store->updateField(DirectoryKind::Personal, 2, QStringLiteral("Family"), QStringLiteral("Ёлкина А.Б. (младшая сестра)"))
        && store->exec(QStringLiteral("DELETE FROM Note WHERE rowid = 4"));
}

int sql(const QString &db, const QString &text)
{
    return OtherProgram(db).exec(text);
}

// Whether process `pid` holds `path` open.
bool holdsOpen(qint64 pid, const QString &path)
{
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString &fd : QDir(fds).entryList(QDir::Files | QDir::System))
        if (QFileInfo(fds + u'/' + fd).symLinkTarget() == path)
            return true;
    return false;
}

} // namespace

class TestMdbImport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // Progress is checked by the cancel at the last row below.
        for (const QString &name : {kJet4, kJet3}) {
            const ImportResult r = importAccessFile(accessFixture(name), dbOf(name));
            QVERIFY2(r.ok && r.warnings.isEmpty(), qPrintable(r.error + r.warnings.join(u'\n')));
        }
    }
    // Each case in a folder of its own: kadu.db beside kadu.mdb.
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        db = dir->filePath(QStringLiteral("kadu.db"));
        mdb = dir->filePath(QStringLiteral("kadu.mdb"));
    }

    // NULL kept apart from "", the Jet3 file's text read as Windows-1251.
    void everyValueMatchesTheExpectedTable_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("kind");
        for (const QString &file : {kJet4, kJet3}) {
            for (DirectoryKind kind : {DirectoryKind::Residents, DirectoryKind::Enterprises, DirectoryKind::Personal})
                QTest::addRow("%s %s", qPrintable(file), qPrintable(tableInfo(kind).table)) << file << int(kind);
        }
    }
    void everyValueMatchesTheExpectedTable()
    {
        QFETCH(QString, file);
        QFETCH(int, kind);
        QCOMPARE(tableCsv(dbOf(file), DirectoryKind(kind)), expectedCsv(file, DirectoryKind(kind)));
    }

    void foldedColumnsFindImportedRowsWithoutCaseOrYo()
    {
        const QString family = QStringLiteral("SELECT Family FROM NASELEN WHERE k_family GLOB '%1' ORDER BY rowid");
        QCOMPARE(strings(dbOf(kJet3), family.arg("петр*")), (QStringList{"ПЕТРОВ П.П.", "петрова н.н."}));
        QCOMPARE(strings(dbOf(kJet3), family.arg("елк*")), (QStringList{"Ёлкина А.Б.", "ёлкин в.в."}));
        QCOMPARE(strings(dbOf(kJet4), family.arg("тест_*")), QStringList{"Тест_100%"});
    }

    void failureLeavesEveryFileAsItWas_data()
    {
        QTest::addColumn<bool>("update"); // else a new directory file
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("error"); // a pattern
        const QByteArray jet4 = readBytes(accessFixture(kJet4));
        QByteArray random(64 * 1024, '\0');
        QRandomGenerator(4711).fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
        const QString cancelled = QStringLiteral("kadu.mdb прерван");
        QTest::newRow("new: empty file") << false << QByteArray() << "" << "kadu.mdb не является базой данных Access";
        QTest::newRow("new: cut mid-page") << false << jet4.left(jet4.size() / 2 + 1000) << "" << "kadu.mdb повреждён.*обрезан";
        QTest::newRow("new: Note short (Jet4)") << false << noteShortOfRows(kJet4) << "" << "повреждён.*Note";
        QTest::newRow("new: cancelled at the last row") << false << jet4 << "cancel last" << cancelled;
        QTest::newRow("update: random pages") << true << jet4.left(4096) + random << "" << "kadu.mdb";
        QTest::newRow("update: cut at a page") << true << jet4.left(jet4.size() / 2) << "" << "kadu.mdb повреждён";
        QTest::newRow("update: Note short (Jet3)") << true << noteShortOfRows(kJet3) << "" << "повреждён.*Note";
        QTest::newRow("update: PREDPR missing") << true << jet4 << "no PREDPR" << "нет таблицы PREDPR";
        QTest::newRow("update: cancelled at the last row") << true << jet4 << "cancel last" << cancelled;
        QTest::newRow("update: disk full") << true << jet4 << "disk full" << "kadu.db";
        QTest::newRow("update: directory not a database") << true << jet4 << "text db" << "не является базой справочника";
    }
    // A message naming the file, no new or temporary file, nothing changed.
    void failureLeavesEveryFileAsItWas()
    {
        QFETCH(bool, update);
        QFETCH(QByteArray, source);
        QFETCH(QString, how);
        QFETCH(QString, error);
        QVERIFY(writeBytes(mdb, source));
        if (update)
            QVERIFY(importAccessFile(accessFixture(kJet3), db).ok);
        if (how == QLatin1String("text db"))
            QVERIFY(writeBytes(db, "Петров 21734\r\n"));
        if (how == QLatin1String("no PREDPR"))
            QVERIFY(renameAccessTable(mdb, QStringLiteral("PREDPR"), QStringLiteral("PREDPX")));
        const QMap<QString, QByteArray> before = folderContent(dir->path());
        const auto progress = [&](qint64 done, qint64 total) { return how != QLatin1String("cancel last") || done < total; };
        // Disk full: files may not grow past the directory's current size.
        const auto run = [&] { return update ? updateFromAccessFile(mdb, db, progress) : importAccessFile(mdb, db, progress); };
        const ImportResult r = how == QLatin1String("disk full")
                ? test::onFullDisk(before.value(QStringLiteral("kadu.db")).size(), run) : run();

        QVERIFY(!r.ok);
        QCOMPARE(r.cancelled, how.startsWith(QLatin1String("cancel")));
        QVERIFY2(r.error.contains(QRegularExpression(error)), qPrintable(r.error));
        QVERIFY(folderContent(dir->path()) == before);
    }

    // A missing table leaves its directory empty; names match without regard to case.
    void missingTablesLeaveTheirDirectoryEmpty()
    {
        copyAccessFixture(kJet4, mdb);
        QVERIFY(renameAccessTable(mdb, QStringLiteral("Note"), QStringLiteral("Nota")));
        QVERIFY(renameAccessTable(mdb, QStringLiteral("NASELEN"), QStringLiteral("naselen")));
        ImportResult r = importAccessFile(mdb, db);
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(r.warnings.size() == 1 && r.warnings[0].contains(QStringLiteral("Note")) && r.warnings[0].contains("kadu.mdb"));
        QCOMPARE((QList<qint64>{r.residents, r.enterprises, r.personal}), (QList<qint64>{120, 40, 0}));
        QCOMPARE(Store::open(db)->tableRowCount(DirectoryKind::Personal), 0);

        // Without any of the three there is no directory to make.
        QVERIFY(QFile::remove(db));
        QVERIFY(renameAccessTable(mdb, QStringLiteral("naselen"), QStringLiteral("naselex")));
        QVERIFY(renameAccessTable(mdb, QStringLiteral("PREDPR"), QStringLiteral("PREDPX")));
        r = importAccessFile(mdb, db);
        QVERIFY2(!r.ok && r.error.contains(QStringLiteral("нет таблиц")), qPrintable(r.error));
        QVERIFY(!QFile::exists(db));
    }

    // The tool never drops personal entries unasked, nor writes over what it reads.
    void commandLineToolKeepsWhatItMustNotReplace()
    {
        const QString jet3 = accessFixture(kJet3), jet4 = accessFixture(kJet4);
        QString out, err;
        const auto run = [&](const QStringList &args) {
            QProcess p;
            p.start(QStringLiteral(KORVANA_IMPORT_EXE), args);
            if (!p.waitForFinished(60000))
                return -1;
            out = QString::fromUtf8(p.readAllStandardOutput());
            err = QString::fromUtf8(p.readAllStandardError());
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        const auto personal = [this] { return tableCsv(db, DirectoryKind::Personal); };
        QCOMPARE(run({jet4, db}), 0);
        QVERIFY2(err.contains("163"), qPrintable(err));
        const QByteArray first = readBytes(db);
        QVERIFY(run({jet3, db}) != 0);
        QVERIFY2(err.contains(QStringLiteral("уже существует")), qPrintable(err));
        QCOMPARE(run({QStringLiteral("--force"), jet3, db}), 1);
        QVERIFY2(err.contains(QStringLiteral("«Мой» (3)")) && err.contains(QStringLiteral("--yes")), qPrintable(err));
        QCOMPARE(readBytes(db), first);

        QCOMPARE(run({QStringLiteral("--update"), jet3, db}), 0);
        QVERIFY2(out.contains(QStringLiteral("население 10, предприятия 6 строк; справочник «Мой»: сохранено 3, добавлено 1")),
                 qPrintable(out));
        QCOMPARE(personal(), expectedCsv(kJet4, DirectoryKind::Personal)
                                 + QStringList{expectedCsv(kJet3, DirectoryKind::Personal).at(2)});
        QCOMPARE(run({QStringLiteral("--force"), QStringLiteral("--yes"), jet4, db}), 0);
        QVERIFY2(err.contains(QStringLiteral("«Мой» из файла")) && err.contains(QStringLiteral("удалены: 4")), qPrintable(err));
        QCOMPARE(personal(), expectedCsv(kJet4, DirectoryKind::Personal));

        QVERIFY(QFile::copy(jet3, mdb));
        QVERIFY(run({QStringLiteral("--force"), mdb, mdb}) != 0);
        QCOMPARE(readBytes(mdb), readBytes(jet3));
    }

    // A new edition taken into a directory file in use, named by a link:
    // the public rows replaced; «Мой» kept byte for byte and type for type
    // (text that is not UTF-8, a BLOB, a number) under the same rowids, and
    // of the new file's entries only the one not held yet added; the link
    // kept, its target made with the old one's owner, group and mode, also
    // while it is built. The program that has the file open cannot write
    // during the update nor to the old file afterwards, which nobody reads.
    void updateKeepsEveryPersonalByteAndTheFileItReplaces()
    {
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("data")));
        const QString target = dir->filePath(QStringLiteral("data/kadu.db")), link = db;
        QVERIFY(makeDirectory(target));
        QVERIFY(QFile::link(QStringLiteral("data/kadu.db"), link));
        auto running = Store::open(target);
        QVERIFY(running);
        sqlite3_busy_timeout(running->handle(), 50);
        QCOMPARE(sql(target, "INSERT INTO Note (N_tel, Family, Street, Dom, Dom1, Kvart, Kvart1) VALUES "
                             "('40001', CAST(X'C8E2E0EDEEE2' AS TEXT), X'00FF', 12, NULL, '', 1.5)"), SQLITE_OK);
        const QStringList before = personalBytes(target);
        QVERIFY2(before.join(u'\n').contains(QStringLiteral("text:X'C8E2E0EDEEE2' blob:X'00FF'")), qPrintable(before.join(u'\n')));
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0640), 0);
        if (::geteuid() == 0)
            QCOMPARE(::chown(QFile::encodeName(target).constData(), 65534, 65534), 0);
        struct stat old {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &old), 0);

        QStringList wider;
        int refusedDuring = 0;
        const ImportResult r = updateFromAccessFile(accessFixture(kJet4), link, [&](qint64, qint64) {
            refusedDuring += !running->insertRow(DirectoryKind::Personal, {QStringLiteral("30002")});
            for (const QString &folder : {dir->path(), dir->filePath(QStringLiteral("data"))})
                for (const QFileInfo &f : QDir(folder).entryInfoList({QStringLiteral("kadu.db.import-*")}, QDir::Files | QDir::Hidden)) {
                    struct stat st {};
                    if (::stat(QFile::encodeName(f.filePath()).constData(), &st) == 0 && (st.st_mode & 07777 & ~0640))
                        wider << f.fileName();
                }
            return true;
        });
        QVERIFY2(r.ok && r.warnings.isEmpty(), qPrintable(r.error + r.warnings.join(u'\n')));
        QVERIFY(refusedDuring > 0);
        QVERIFY(!running->insertRow(DirectoryKind::Personal, {QStringLiteral("30003")}));
        QVERIFY2(running->lastError().contains(QStringLiteral("заменён")), qPrintable(running->lastError()));
        QCOMPARE((QList<qint64>{r.residents, r.enterprises, r.personal, r.personalKept, r.personalAdded}),
                 (QList<qint64>{120, 40, 3, 5, 1}));
        for (DirectoryKind kind : {DirectoryKind::Residents, DirectoryKind::Enterprises})
            QCOMPARE(tableCsv(link, kind), expectedCsv(kJet4, kind));
        // 03 and 912345 of the new file's three are held already.
        QCOMPARE(personalBytes(link).mid(0, before.size()), before);
        QCOMPARE(personalRows(link).mid(before.size()), QStringList{"7 '24406''Петров П.П. (сосед)''Садовая''12'NULL'5'NULL"});
        QVERIFY2(wider.isEmpty(), qPrintable(wider.join(u' ')));
        QVERIFY(QFileInfo(link).isSymLink());
        struct stat now {};
        QCOMPARE(::stat(QFile::encodeName(target).constData(), &now), 0);
        QCOMPARE(now.st_mode & 07777, old.st_mode & 07777);
        QCOMPARE((QList<uint>{now.st_uid, now.st_gid}), (QList<uint>{old.st_uid, old.st_gid}));

        // Searchable as a fresh import is: the folded columns filled, the kept rows' too.
        QCOMPARE(strings(link, QStringLiteral("SELECT Family FROM Note WHERE k_family GLOB 'елкина*'")),
                 QStringList{QStringLiteral("Ёлкина А.Б. (младшая сестра)")});
        const QString petrov = QStringLiteral("SELECT count(*) FROM NASELEN WHERE k_family GLOB 'петр*'");
        QCOMPARE(strings(link, petrov), strings(dbOf(kJet4), petrov));
        // The same edition again adds nothing; the new file takes writes.
        QVERIFY(updateFromAccessFile(accessFixture(kJet4), link).ok);
        QCOMPARE(personalRows(link).size(), before.size() + 1);
        QVERIFY(Store::open(link)->insertRow(DirectoryKind::Personal, {QStringLiteral("30004")}));
    }

    // A source personal entry is taken only when no kept entry equals it in
    // all seven fields: one differing in any single field does not hold it.
    void mergeComparesEveryPersonalField()
    {
        QVERIFY(importAccessFile(accessFixture(kJet4), db).ok);
        const QStringList fields = tableInfo(DirectoryKind::Personal).fields;
        // The first source entry is replaced by seven near copies of it.
        QCOMPARE(sql(db, "CREATE TABLE first AS SELECT * FROM Note WHERE rowid = 1"), SQLITE_OK);
        for (const QString &f : fields)
            QCOMPARE(sql(db, QStringLiteral("INSERT INTO Note SELECT * FROM first; UPDATE Note SET %1 = coalesce(%1 || 'x', 'x') "
                                            "WHERE rowid = last_insert_rowid()").arg(f)), SQLITE_OK);
        QCOMPARE(sql(db, "DELETE FROM Note WHERE rowid = 1; DROP TABLE first"), SQLITE_OK);
        const ImportResult r = updateFromAccessFile(accessFixture(kJet4), db);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.personalKept, qint64(2 + fields.size()));
        QCOMPARE(r.personalAdded, 1);
    }

    // Two updates at once: the second waits for the lock of the file the
    // first is replacing; the first renames a file over the path (which
    // takes this edition and a personal entry after it). The second starts
    // again on that file, finds the edition taken and leaves it as it is.
    void aSecondUpdateStartsAgainOnTheFileThatReplacedItsOwn()
    {
        const QString first = dir->filePath(QStringLiteral("first.db"));
        QVERIFY(makeDirectory(db));
        QVERIFY(QFile::copy(db, first));
        QVERIFY(updateFromAccessFile(accessFixture(kJet4), first).ok);
        QVERIFY(Store::open(first)->insertRow(DirectoryKind::Personal, {QStringLiteral("50001"), QStringLiteral("Между двумя")}));
        const QByteArray firstBytes = readBytes(first);

        auto holder = std::make_unique<OtherProgram>(db);
        QCOMPARE(holder->exec(QStringLiteral("BEGIN IMMEDIATE")), SQLITE_OK);
        QProcess second;
        second.start(QStringLiteral(KORVANA_IMPORT_EXE), {QStringLiteral("--update"), accessFixture(kJet4), db});
        QVERIFY(second.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(holdsOpen(second.processId(), QFileInfo(db).canonicalFilePath()), 20000);
        QCOMPARE(std::rename(QFile::encodeName(first).constData(), QFile::encodeName(db).constData()), 0);
        holder.reset(); // its transaction rolled back
        QVERIFY(second.waitForFinished(60000));
        QVERIFY2(second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0, second.readAllStandardError().constData());
        QCOMPARE(personalRows(db).last(), QStringLiteral("7 '50001''Между двумя'NULLNULLNULLNULLNULL"));
        QCOMPARE(readBytes(db), firstBytes);
        QVERIFY(QString::fromUtf8(second.readAllStandardOutput()).contains(QStringLiteral("не изменён")));
    }

    // An edition the user declined is not offered again; the one already taken neither.
    void declinedEditionIsNotOfferedAgain()
    {
        QVERIFY(importAccessFile(accessFixture(kJet3), db).ok);
        copyAccessFixture(kJet3, mdb);
        QVERIFY(!newEditionOffer(mdb, db).offer);
        copyAccessFixture(kJet4, mdb);
        QVERIFY(newEditionOffer(mdb, db).offer);
        QVERIFY(recordDeclinedEdition(mdb, db));
        QVERIFY(!newEditionOffer(mdb, db).offer);
    }

private:
    QString dbOf(const QString &fixture) const { return m_dir.filePath(fixture + QStringLiteral(".db")); }

    QTemporaryDir m_dir;
    std::unique_ptr<QTemporaryDir> dir;
    QString db, mdb;
};

QTEST_GUILESS_MAIN(TestMdbImport)
#include "tst_mdbimport.moc"
