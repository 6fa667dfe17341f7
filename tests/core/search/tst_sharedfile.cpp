// Searching one directory file that other connections write at the same
// time: what they change is seen, what they do not change is not rebuilt,
// and a failing image build leaves the file to everyone.
#include "core/search/recordsource.h"
#include "core/search/searchimages.h"
#include "accessfixtures.h"
#include "testdb.h"
#include "testfiles.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <sqlite3.h>

#include <cstdio>
#include <functional>

using namespace korvana;
using korvana::test::OtherProgram;
using korvana::test::TestDb;

namespace {

// Rows whose first and last ones hold values no other row starts with,
// in packed columns (number, name) and dictionary ones (street, house, flat).
void fillTown(TestDb &db, int rows)
{
    const QVariant null;
    db.store->begin();
    db.add(DirectoryKind::Residents, {"10001", "Аарон А.А.", "Абрикосовая", "0", null, "0", null});
    for (int i = 1; i < rows - 1; ++i)
        db.add(DirectoryKind::Residents,
               {QString::number(200000 + i), QStringLiteral("%1енко Б.%2").arg(i % 2 ? "Кова" : "Пет").arg(i),
                QStringLiteral("Садовая %1").arg(i % 40), QString::number(1 + i % 90), null,
                QString::number(1 + i % 70), null});
    db.add(DirectoryKind::Residents, {"99998", "Яшин Я.Я.", "Ясная", "999", "я", "999", "я"});
    db.store->commit();
}

qint64 dataVersion(sqlite3 *db)
{
    Statement s(db, QStringLiteral("PRAGMA data_version"));
    return s.step() == SQLITE_ROW ? s.columnInt64(0) : -1;
}

QList<qint64> found(RecordSource &rs)
{
    QList<qint64> ids;
    for (int r = 0; r < rs.recordCount(); ++r)
        ids << rs.rowId(r);
    return ids;
}

// Calls `onStatement` with the text of every statement the connection starts.
struct StatementWatch {
    std::function<void(const QString &)> onStatement;
    sqlite3 *db;
    StatementWatch(sqlite3 *db, std::function<void(const QString &)> f) : onStatement(std::move(f)), db(db)
    {
        sqlite3_trace_v2(db, SQLITE_TRACE_STMT, [](unsigned, void *self, void *stmt, void *) {
            static_cast<StatementWatch *>(self)->onStatement(QString::fromUtf8(sqlite3_sql(static_cast<sqlite3_stmt *>(stmt))));
            return 0;
        }, this);
    }
    ~StatementWatch() { sqlite3_trace_v2(db, 0, nullptr, nullptr); }
};

} // namespace

class TestSharedFile : public QObject {
    Q_OBJECT
    TestDb db;

private Q_SLOTS:
    void initTestCase()
    {
        fillTown(db, 3000);
        db.add(DirectoryKind::Personal, {"11111", "Свой", {}, {}, {}, {}, {}});
        db.reopen(); // as a program opens it: the change counters are added once
    }

    // The image finds the first and the last row of the table by a pattern
    // anchored at the start, in every column it holds, packed or not.
    void imageFindsTheEdgeRowsOfEveryColumn()
    {
        std::atomic<bool> cancel{false};
        const std::shared_ptr<const SearchImage> image(SearchImage::build(db.store->handle(), DirectoryKind::Residents, cancel));
        QVERIFY(image);
        const QStringList order = searchOrders(DirectoryKind::Residents).first();
        for (const QString &column : criterionColumns(DirectoryKind::Residents)) {
            for (const QString &edge : test::strings(db.path(), QStringLiteral("SELECT %1 FROM NASELEN WHERE rowid IN "
                     "((SELECT min(rowid) FROM NASELEN), (SELECT max(rowid) FROM NASELEN))").arg(column))) {
                for (const QString &pattern : {edge.left(2) + u'*', edge, edge.left(1) + u'?' + edge.mid(2) + u'*'}) {
                    auto result = SearchImage::search(image, {{column, pattern}}, order);
                    QVERIFY(result);
                    Statement glob(db.store->handle(), QStringLiteral("SELECT rowid FROM NASELEN WHERE %1 GLOB ?1 ORDER BY %2")
                                                           .arg(column, order.join(u',')));
                    glob.bindText(1, pattern);
                    QList<qint64> expected, got;
                    while (glob.step() == SQLITE_ROW)
                        expected << glob.columnInt64(0);
                    for (qint64 p = 0; p < result->count(); ++p)
                        got << result->rowIdAt(p);
                    QVERIFY2(got == expected, qPrintable(column + u' ' + pattern));
                }
            }
        }
    }

    // Another program commits while a search is under way (at each of the
    // statements the search runs, in turn): the search keeps the image it
    // started with and finds what a scan finds; it asks whether the file
    // changed once, and a personal entry written elsewhere leaves the
    // residents' image standing.
    void anOutsideCommitDuringASearchChangesNothingItUses()
    {
        SearchImages images(db.store.get());
        images.start();
        QTRY_VERIFY_WITH_TIMEOUT(images.image(DirectoryKind::Residents), 30000);
        const auto built = images.image(DirectoryKind::Residents);
        RecordSource rs(DirectoryKind::Residents);
        rs.setStore(db.store.get());
        rs.setImages(&images);
        OtherProgram other(db.path());
        int versionChecks = 0, commitAt = 0;
        StatementWatch watch(db.store->handle(), [&](const QString &sql) {
            if (sql.startsWith(QLatin1String("PRAGMA data_version")))
                ++versionChecks;
            if (++commitAt == 0)
                QCOMPARE(other.exec("INSERT INTO Note (N_tel) VALUES ('22222')"), SQLITE_OK);
        });
        const SearchQuery q = buildSearchQuery({"", "*енко Б.1", "", "", ""}, DirectoryKind::Residents, SortField(2), DirectoryKind::Residents);
        for (int at = 1; at <= 8; ++at) {
            QTRY_VERIFY_WITH_TIMEOUT(images.image(DirectoryKind::Residents), 30000);
            versionChecks = 0;
            commitAt = -at; // the at-th statement of the search commits first
            rs.setQuery(q);
            QCOMPARE(rs.refresh(), RecordSource::Outcome::Ok);
            QCOMPARE(versionChecks, 1);
            QCOMPARE(rs.plan().rows, SearchPlan::Rows::Image);
            QCOMPARE(found(rs), test::scanRowIds(db.store->handle(), q));
        }
        QCOMPARE(images.image(DirectoryKind::Residents), built);
    }

    // «Мой» sees another program's insert and delete at its next search,
    // with no row left blank.
    void personalSeesOutsideWrites()
    {
        SearchImages images(db.store.get());
        RecordSource personal(DirectoryKind::Personal);
        personal.setStore(db.store.get());
        personal.setImages(&images);
        QCOMPARE(personal.refresh(), RecordSource::Outcome::Ok);
        const int before = personal.recordCount();
        OtherProgram other(db.path());
        QCOMPARE(other.exec("INSERT INTO Note (N_tel, Family) VALUES ('33333', 'Чужой')"), SQLITE_OK);
        QCOMPARE(personal.refresh(), RecordSource::Outcome::Ok);
        QCOMPARE(personal.recordCount(), before + 1);
        QCOMPARE(personal.value(before, 1).toString(), QStringLiteral("Чужой"));
        QCOMPARE(other.exec("DELETE FROM Note WHERE rowid = (SELECT min(rowid) FROM Note)"), SQLITE_OK);
        QCOMPARE(personal.refresh(), RecordSource::Outcome::Ok);
        QCOMPARE(personal.recordCount(), before);
        for (int r = 0; r < personal.recordCount(); ++r)
            QVERIFY(!personal.value(r, 0).isNull());
    }

    // A second program opening an up-to-date file writes nothing; opening
    // a file whose personal search columns another tool left wrong mends them.
    void openingAnUpToDateFileWritesNothing()
    {
        QVERIFY(Store::open(db.path())); // mends the rows written by hand above
        OtherProgram other(db.path());
        const qint64 version = dataVersion(other.db);
        const QByteArray bytes = test::readBytes(db.path());
        QVERIFY(Store::open(db.path()));
        QCOMPARE(dataVersion(other.db), version);
        QCOMPARE(test::readBytes(db.path()), bytes);
        QCOMPARE(other.exec("UPDATE Note SET Family = 'ПРАВКА'"), SQLITE_OK);
        QVERIFY(Store::open(db.path()));
        QCOMPARE(test::strings(db.path(), QStringLiteral("SELECT count(*) FROM Note WHERE k_family IS NOT 'правка'")),
                 QStringList{QStringLiteral("0")});
    }

    // A build that runs out of memory gives no image, and leaves the file
    // unlocked: the user's own «Мой» entry and another program's commit go
    // through at once.
    void aFailedBuildLeavesTheFileUnlocked()
    {
        imagememory::failAllocationsAbove(16 * 1024);
        SearchImages images(db.store.get());
        QSignalSpy failed(&images, &SearchImages::failed);
        QSignalSpy ready(&images, &SearchImages::ready);
        images.start();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count() + ready.count(), 2, 30000);
        imagememory::failAllocationsAbove(0);
        QVERIFY(!images.image(DirectoryKind::Residents));
        QVERIFY2(db.store->insertRow(DirectoryKind::Personal, {"44444", "После сбоя", {}, {}, {}, {}, {}}),
                 qPrintable(db.store->lastError()));
        QCOMPARE(OtherProgram(db.path()).exec("BEGIN IMMEDIATE; INSERT INTO Note (N_tel) VALUES ('55555'); COMMIT"), SQLITE_OK);
    }

    // A store still reading a file that a new edition replaced leaves the
    // journal of the new file's writer alone: that writer's commit stands.
    void aReaderOfAReplacedFileLeavesTheNewJournalAlone()
    {
        TestDb old, edition;
        fillTown(old, 2000);
        fillTown(edition, 2000);
        old.store->noticeOutsideWrites();
        edition.store.reset();
        QCOMPARE(std::rename(QFile::encodeName(edition.path()).constData(), QFile::encodeName(old.path()).constData()), 0);
        OtherProgram writer(old.path());
        // A change larger than the writer's cache: its journal is complete on disk before the commit.
        QCOMPARE(writer.exec("PRAGMA cache_size = 2; BEGIN; DELETE FROM NASELEN WHERE rowid > 50"), SQLITE_OK);
        QVERIFY(QFile::exists(old.path() + QStringLiteral("-journal")));
        Statement read(old.store->handle(), QStringLiteral("SELECT count(*) FROM NASELEN"));
        QCOMPARE(read.step(), SQLITE_ROW);
        QVERIFY(QFile::exists(old.path() + QStringLiteral("-journal")));
        QCOMPARE(writer.exec("COMMIT"), SQLITE_OK);
        QCOMPARE(test::strings(old.path(), QStringLiteral("SELECT count(*) FROM NASELEN")), QStringList{QStringLiteral("50")});
    }

    // The images are built only from the file the store reads: not from a
    // new edition renamed over its path since. Runs last: it replaces the file.
    void imagesAreNotBuiltFromAReplacedFile()
    {
        TestDb edition;
        fillTown(edition, 100);
        edition.store.reset();
        QCOMPARE(std::rename(QFile::encodeName(edition.path()).constData(), QFile::encodeName(db.path()).constData()), 0);
        SearchImages images(db.store.get());
        QSignalSpy failed(&images, &SearchImages::failed);
        QSignalSpy ready(&images, &SearchImages::ready);
        images.start();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count() + ready.count(), 2, 30000);
        const auto image = images.image(DirectoryKind::Residents);
        QVERIFY2(!image || image->rowCount() == db.store->tableRowCount(DirectoryKind::Residents),
                 "an image of another file");
    }
};

QTEST_GUILESS_MAIN(TestSharedFile)
#include "tst_sharedfile.moc"
