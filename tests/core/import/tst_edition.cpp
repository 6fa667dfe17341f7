// A new edition of the town's Access file taken into a directory file in use:
// the public directories replaced, the personal one kept, all or nothing.
#include "core/import/edition.h"
#include "core/import/mdbimport.h"
#include "core/personal/personalcopy.h"
#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "core/store/store.h"
#include "accessfixtures.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <csignal>
#include <sys/resource.h>

using namespace korvana;
using namespace korvana::test;

namespace {

const QString kJet3 = QStringLiteral("cp1251-jet3");
const QString kJet4 = QStringLiteral("kadu-jet4");

// kadu.db made from the Jet3 file, holding personal entries as the user makes
// them: one typed in the grid, one imported entry edited there, one copied
// from each public directory, and a gap where one was deleted.
bool makeDirectory(const QString &db)
{
    if (!importAccessFile(accessFixture(kJet3), db).ok)
        return false;
    auto store = Store::open(db);
    RecordSource residents(DirectoryKind::Residents), enterprises(DirectoryKind::Enterprises),
        personal(DirectoryKind::Personal);
    for (RecordSource *rs : {&residents, &enterprises, &personal}) {
        rs->setStore(store.get());
        rs->refresh();
    }
    PersonalModel model(&personal);
    const int fresh = model.rowCount() - 1;
    model.setData(model.index(fresh, 0), QStringLiteral("20100"));
    model.setData(model.index(fresh, 1), QStringLiteral("Мама"));
    bool ok = model.submitPending();
    model.setData(model.index(1, 1), QStringLiteral("Ёлкина А.Б. (младшая сестра)"));
    ok = ok && model.submitPending();
    residents.moveTo(3);
    enterprises.moveTo(1);
    for (RecordSource *from : {&residents, &residents, &enterprises})
        ok = ok && PersonalCopy::copy(*from, personal, [](const QString &) { return true; }) == PersonalCopy::Result::Stored;
    personal.refresh();
    return ok && model.removeEntry(4);
}

struct Folder {
    QTemporaryDir dir;
    QString db = dir.filePath(QStringLiteral("kadu.db"));
    QString mdb = dir.filePath(QStringLiteral("kadu.mdb"));
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }
};

} // namespace

class TestEdition : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void updateKeepsPersonalEntriesAndTakesTheNewPublicRows()
    {
        Folder f;
        QVERIFY(makeDirectory(f.db));
        const QStringList before = personalRows(f.db);
        QCOMPARE(before.size(), 6);
        copyAccessFixture(kJet4, f.mdb);

        const ImportResult r = updateFromAccessFile(f.mdb, f.db);
        QVERIFY2(r.ok && r.warnings.isEmpty(), qPrintable(r.error + r.warnings.join(u'\n')));
        QCOMPARE((QList<qint64>{r.residents, r.enterprises, r.personal, r.personalKept, r.personalAdded}),
                 (QList<qint64>{120, 40, 3, 6, 1}));
        QCOMPARE(publicCsv(f.db), expectedPublicCsv(kJet4));
        // The personal rows as they were, same rowids; of the new file's three
        // only the one not held yet follows (03 and 912345 are already there).
        QCOMPARE(personalRows(f.db), before + QStringList{QStringLiteral("8 '24406''Петров П.П. (сосед)''Садовая''12'NULL'5'NULL")});

        const std::optional<EditionRecords> records = readEditions(f.db);
        QVERIFY(records && records->imported);
        const Edition &e = *records->imported;
        QCOMPARE(e.fileName, QStringLiteral("kadu.mdb"));
        QCOMPARE(e.size, QFileInfo(f.mdb).size());
        QCOMPARE(e.digest, QCryptographicHash::hash(readBytes(f.mdb), QCryptographicHash::Sha256).toHex());
        QCOMPARE((QList<qint64>{e.residents, e.enterprises, e.personal}), (QList<qint64>{120, 40, 3}));
        QVERIFY(qAbs(e.recordedAt.secsTo(QDateTime::currentDateTimeUtc())) < 60);

        // Searchable as a fresh import is: the folded columns filled, the kept rows' too.
        const QString fresh = f.dir.filePath(QStringLiteral("fresh.db"));
        QVERIFY(importAccessFile(f.mdb, fresh).ok);
        QCOMPARE(strings(f.db, QStringLiteral("SELECT Family FROM Note WHERE k_family GLOB 'елкина*'")),
                 QStringList{QStringLiteral("Ёлкина А.Б. (младшая сестра)")});
        QCOMPARE(strings(f.db, QStringLiteral("SELECT count(*) FROM NASELEN WHERE k_family GLOB 'петр*'")),
                 strings(fresh, QStringLiteral("SELECT count(*) FROM NASELEN WHERE k_family GLOB 'петр*'")));

        // The same edition again adds nothing.
        QVERIFY(updateFromAccessFile(f.mdb, f.db).ok);
        QCOMPARE(personalRows(f.db).size(), 7);
    }

    void failedUpdateLeavesTheDirectoryByteForByte_data()
    {
        QTest::addColumn<QString>("variant");
        QTest::addColumn<QString>("message");
        QTest::newRow("random pages") << "random" << QStringLiteral("kadu.mdb");
        QTest::newRow("cut at a page boundary") << "cut at page" << QStringLiteral("повреждён");
        QTest::newRow("table missing") << "no PREDPR" << QStringLiteral("нет таблицы PREDPR");
        QTest::newRow("cancelled at once") << "cancel first" << QStringLiteral("прерван");
        QTest::newRow("cancelled at the last row") << "cancel last" << QStringLiteral("прерван");
        QTest::newRow("disk full") << "disk full" << QStringLiteral("kadu.db");
        QTest::newRow("directory file not a database") << "text db" << QStringLiteral("не является базой справочника");
    }
    void failedUpdateLeavesTheDirectoryByteForByte()
    {
        QFETCH(QString, variant);
        QFETCH(QString, message);
        Folder f;
        QVERIFY(makeDirectory(f.db));
        copyAccessFixture(kJet4, f.mdb);
        const QByteArray jet4 = readBytes(f.mdb);
        QByteArray random(64 * 1024, '\0');
        QRandomGenerator gen(4711);
        for (char &c : random)
            c = char(gen.bounded(256));
        if (variant == QLatin1String("random"))
            QVERIFY(writeBytes(f.mdb, jet4.left(4096) + random));
        else if (variant == QLatin1String("cut at page"))
            QVERIFY(writeBytes(f.mdb, jet4.left(jet4.size() / 2)));
        else if (variant == QLatin1String("no PREDPR"))
            QVERIFY(renameAccessTable(f.mdb, QStringLiteral("PREDPR"), QStringLiteral("PREDPX")));
        else if (variant == QLatin1String("text db"))
            QVERIFY(writeBytes(f.db, "Петров 21734\r\n"));
        const QByteArray dbBefore = readBytes(f.db);
        const QByteArray mdbBefore = readBytes(f.mdb);
        const QStringList filesBefore = f.files();

        const auto progress = [&](qint64 done, qint64 total) {
            return variant == QLatin1String("cancel first") ? false
                : variant == QLatin1String("cancel last") ? done < total
                                                           : true;
        };
        // Files may grow only a little past the directory's current size.
        rlimit oldLimit{};
        getrlimit(RLIMIT_FSIZE, &oldLimit);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (variant == QLatin1String("disk full")) {
            rlimit small = oldLimit;
            small.rlim_cur = rlim_t(dbBefore.size());
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        const ImportResult r = updateFromAccessFile(f.mdb, f.db, progress);
        setrlimit(RLIMIT_FSIZE, &oldLimit);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!r.ok);
        QVERIFY2(r.error.contains(message), qPrintable(r.error));
        QCOMPARE(readBytes(f.db), dbBefore);
        QCOMPARE(readBytes(f.mdb), mdbBefore);
        QCOMPARE(f.files(), filesBefore);
    }

    // Another program keeps the directory file open and writes its personal
    // entries: what it wrote before is carried over, what it tries during the
    // update waits and fails, and after the update it cannot write to the old
    // file, which nobody will read again.
    void personalEditsOfAnotherProgramAreNeverLost()
    {
        Folder f;
        QVERIFY(makeDirectory(f.db));
        copyAccessFixture(kJet4, f.mdb);
        auto running = Store::open(f.db);
        QVERIFY(running);
        sqlite3_busy_timeout(running->handle(), 50);
        const QVariantList before = {QStringLiteral("30001"), QStringLiteral("До обновления")};
        QVERIFY(running->insertRow(DirectoryKind::Personal, before));

        int refusedDuring = 0;
        const ImportResult r = updateFromAccessFile(f.mdb, f.db, [&](qint64, qint64) {
            refusedDuring += !running->insertRow(DirectoryKind::Personal, {QStringLiteral("30002")});
            return true;
        });
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(refusedDuring > 0);
        QVERIFY(!running->insertRow(DirectoryKind::Personal, {QStringLiteral("30003")}));
        QVERIFY2(running->lastError().contains(QStringLiteral("заменён")), qPrintable(running->lastError()));

        const QString numbers = QStringLiteral("SELECT N_tel FROM Note WHERE N_tel LIKE '3000_'");
        QCOMPARE(strings(f.db, numbers), QStringList{QStringLiteral("30001")});
        auto reopened = Store::open(f.db);
        QVERIFY(reopened && reopened->insertRow(DirectoryKind::Personal, {QStringLiteral("30004")}));
        QCOMPARE(strings(f.db, numbers), (QStringList{QStringLiteral("30001"), QStringLiteral("30004")}));
    }
};

QTEST_GUILESS_MAIN(TestEdition)
#include "tst_edition.moc"
