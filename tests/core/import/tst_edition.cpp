// A new edition of the town's Access file taken into a directory file in use:
// the public directories replaced, the personal one kept.
#include "core/import/edition.h"
#include "core/import/mdbimport.h"
#include "core/personal/personalcopy.h"
#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "core/store/store.h"
#include "accessfixtures.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

using namespace korvana;
using namespace korvana::test;

namespace {

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

} // namespace

class TestEdition : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Another program keeps the directory file open: what it wrote before is
    // carried over, what it tries during the update waits and fails, and after
    // the update it cannot write to the old file, which nobody will read again.
    void updateKeepsPersonalEntriesAndTakesTheNewPublicRows()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("kadu.db")), mdb = dir.filePath(QStringLiteral("kadu.mdb"));
        QVERIFY(makeDirectory(db));
        copyAccessFixture(kJet4, mdb);
        auto running = Store::open(db);
        QVERIFY(running);
        sqlite3_busy_timeout(running->handle(), 50);
        QVERIFY(running->insertRow(DirectoryKind::Personal, {QStringLiteral("30001"), QStringLiteral("До обновления")}));
        const QStringList before = personalRows(db);
        QCOMPARE(before.size(), 7);

        int refusedDuring = 0;
        const ImportResult r = updateFromAccessFile(mdb, db, [&](qint64, qint64) {
            refusedDuring += !running->insertRow(DirectoryKind::Personal, {QStringLiteral("30002")});
            return true;
        });
        QVERIFY2(r.ok && r.warnings.isEmpty(), qPrintable(r.error + r.warnings.join(u'\n')));
        QVERIFY(refusedDuring > 0);
        QVERIFY(!running->insertRow(DirectoryKind::Personal, {QStringLiteral("30003")}));
        QVERIFY2(running->lastError().contains(QStringLiteral("заменён")), qPrintable(running->lastError()));
        QCOMPARE((QList<qint64>{r.residents, r.enterprises, r.personal, r.personalKept, r.personalAdded}),
                 (QList<qint64>{120, 40, 3, 7, 1}));
        QCOMPARE(publicCsv(db), expectedPublicCsv(kJet4));
        // The personal rows as they were, same rowids; of the new file's three
        // only the one not held yet follows (03 and 912345 are already there).
        QCOMPARE(personalRows(db), before + QStringList{QStringLiteral("9 '24406''Петров П.П. (сосед)''Садовая''12'NULL'5'NULL")});

        const std::optional<EditionRecords> records = readEditions(db);
        QVERIFY(records && records->imported);
        const Edition &e = *records->imported;
        QCOMPARE(e.fileName, QStringLiteral("kadu.mdb"));
        QCOMPARE(e.digest, QCryptographicHash::hash(readBytes(mdb), QCryptographicHash::Sha256).toHex());
        QCOMPARE((QList<qint64>{e.size, e.residents, e.enterprises, e.personal}), (QList<qint64>{readBytes(mdb).size(), 120, 40, 3}));

        // Searchable as a fresh import is: the folded columns filled, the kept rows' too.
        const QString fresh = dir.filePath(QStringLiteral("fresh.db"));
        QVERIFY(importAccessFile(mdb, fresh).ok);
        QCOMPARE(strings(db, QStringLiteral("SELECT Family FROM Note WHERE k_family GLOB 'елкина*'")),
                 QStringList{QStringLiteral("Ёлкина А.Б. (младшая сестра)")});
        const QString petrov = QStringLiteral("SELECT count(*) FROM NASELEN WHERE k_family GLOB 'петр*'");
        QCOMPARE(strings(db, petrov), strings(fresh, petrov));

        // The same edition again adds nothing; the new file takes writes.
        QVERIFY(updateFromAccessFile(mdb, db).ok);
        QCOMPARE(personalRows(db).size(), 8);
        QVERIFY(Store::open(db)->insertRow(DirectoryKind::Personal, {QStringLiteral("30004")}));
        QCOMPARE(strings(db, QStringLiteral("SELECT N_tel FROM Note WHERE N_tel LIKE '3000_'")),
                 (QStringList{QStringLiteral("30001"), QStringLiteral("30004")}));
    }

    // An edition the user declined is not offered again; the one already taken neither.
    void declinedEditionIsNotOfferedAgain()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("kadu.db")), mdb = dir.filePath(QStringLiteral("kadu.mdb"));
        QVERIFY(importAccessFile(accessFixture(kJet3), db).ok);
        copyAccessFixture(kJet3, mdb);
        QVERIFY(!newEditionOffer(mdb, db).offer);
        copyAccessFixture(kJet4, mdb);
        QVERIFY(newEditionOffer(mdb, db).offer);
        QVERIFY(recordDeclinedEdition(mdb, db));
        QVERIFY(!newEditionOffer(mdb, db).offer);
    }
};

QTEST_GUILESS_MAIN(TestEdition)
#include "tst_edition.moc"
