// The office server on a real PostgreSQL cluster the test starts itself:
// editions loaded, served, fetched by seats, refused and survived.

#include "accessfixtures.h"
#include "pgcluster.h"
#include "testdb.h"
#include "testfiles.h"

#include "core/server/editionwatch.h"
#include "core/server/pgconnection.h"
#include "core/server/serveredition.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace korvana;
using namespace Qt::StringLiterals;
using korvana::test::PgCluster;

namespace {

qint64 servedId()
{
    PgConnection db;
    QString error;
    const std::optional<ServedEdition> e = db.open(PgCluster::kSeat) ? servedEdition(db, &error) : std::nullopt;
    return e ? e->id : error.isEmpty() ? 0 : -1;
}

// Fetches the served edition into `copy` as a seat does.
FetchResult fetch(const QString &copy, const ImportProgress &progress = {})
{
    PgConnection db;
    return db.open(PgCluster::kSeat) ? fetchServedEdition(db, copy, progress) : FetchResult{};
}

} // namespace

class TestServer : public QObject {
    Q_OBJECT
    PgCluster m_cluster;
    QTemporaryDir m_home; // the seats' cache folder
    test::TestDb m_town;  // the edition the tests load first
    const QString m_copy = m_home.filePath(u"a/korvana/office.db"_s);

    ServerLoadResult load(const QString &service = PgCluster::kLoader, const QString &path = {},
                          const ImportProgress &progress = {})
    {
        return loadServerEditionFromDb(service, path.isEmpty() ? m_town.path() : path, progress);
    }

private slots:
    void initTestCase()
    {
        KORVANA_START_CLUSTER(m_cluster);
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_home.path()));
        test::addSampleTown(m_town);
        m_town.add(DirectoryKind::Enterprises, {"Аптека «Здоровье»", "21000", "круглосуточно", "Ленина", "1", {}, {}, {}});
        // The administrator's own entry is not part of the edition.
        m_town.add(DirectoryKind::Personal, {"11111", "Личное", {}, {}, {}, {}, {}});
    }

    // Loaded once and fetched: the copy holds the file's directories and no «Мой».
    void seatsGetTheLoadedEdition()
    {
        QCOMPARE(servedId(), 0); // nothing loaded yet: no error, no edition
        const ServerLoadResult loaded = load();
        QVERIFY2(loaded.ok, qPrintable(loaded.error));
        QCOMPARE(loaded.edition.source.personal, 0);
        QCOMPARE(loaded.edition.loadedBy, u"korvana_loader"_s);
        QCOMPARE(servedId(), loaded.edition.id);
        const FetchResult fetched = fetch(m_copy);
        QVERIFY2(fetched.ok, qPrintable(fetched.error));
        QCOMPARE(copiedEdition(m_copy), loaded.edition.id);
        for (DirectoryKind kind : {DirectoryKind::Residents, DirectoryKind::Enterprises})
            QCOMPARE(test::tableCsv(m_copy, kind), test::tableCsv(m_town.path(), kind));
        QCOMPARE(test::personalRows(m_copy), QStringList());
    }

    void accessFileIsLoadedWithItsRecord()
    {
        const QString mdb = test::accessFixture(test::kJet4);
        const ServerLoadResult loaded = loadServerEditionFromAccess(PgCluster::kLoader, mdb);
        QVERIFY2(loaded.ok, qPrintable(loaded.error));
        std::optional<Edition> file = fileEdition(mdb);
        QVERIFY(file && computeDigest(*file, mdb));
        QCOMPARE(loaded.edition.source.digest, file->digest);
        const QString copy = m_home.filePath(u"access.db"_s);
        QVERIFY(fetch(copy).ok);
        QCOMPARE(test::tableCsv(copy, DirectoryKind::Residents), test::expectedCsv(test::kJet4, DirectoryKind::Residents));
    }

    // A running seat hears of a new edition; taking it keeps the seat's «Мой».
    void newEditionReachesARunningSeat()
    {
        QVERIFY(fetch(m_copy).ok);
        QVERIFY(Store::open(m_copy)->insertRow(DirectoryKind::Personal, {"55555", "Моя запись", {}, {}, {}, {}, {}}));
        const QStringList mine = test::personalRows(m_copy);
        QCOMPARE(mine.size(), 1);
        EditionWatch watch(PgCluster::kSeat);
        QSignalSpy heard(&watch, &EditionWatch::servedEditionIs);
        watch.start();
        QTRY_COMPARE_WITH_TIMEOUT(heard.size(), 1, 10000);
        QCOMPARE(heard.takeFirst().at(0).toLongLong(), servedId());

        test::TestDb next;
        next.add(DirectoryKind::Residents, {"77777", "Новиков Н.Н.", "Новая", "1", {}, {}, {}});
        const ServerLoadResult loaded = load(PgCluster::kLoader, next.path());
        QVERIFY2(loaded.ok, qPrintable(loaded.error));
        QTRY_COMPARE_WITH_TIMEOUT(heard.size(), 1, 10000);
        QCOMPARE(heard.takeFirst().at(0).toLongLong(), loaded.edition.id);
        const FetchResult fetched = fetch(m_copy);
        QVERIFY2(fetched.ok, qPrintable(fetched.error));
        QCOMPARE(test::tableCsv(m_copy, DirectoryKind::Residents), test::tableCsv(next.path(), DirectoryKind::Residents));
        QCOMPARE(test::personalRows(m_copy), mine);
    }

    // The administrator's command: a load, and refusals that leave the served edition.
    void commandLineLoads()
    {
        const auto run = [](const QStringList &args) {
            QProcess p;
            p.start(QStringLiteral(KORVANA_IMPORT_EXE), args);
            p.waitForFinished(120000);
            return std::pair{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
        };
        const auto [code, text] = run({u"--server"_s, PgCluster::kLoader, u"--from-db"_s, m_town.path()});
        const qint64 served = servedId();
        QVERIFY2(code == 0 && text.contains(u"издание %1 "_s.arg(served)), qPrintable(text));
        const auto [refused, why] = run({u"--server"_s, PgCluster::kSeat, u"--from-db"_s, m_town.path()});
        QCOMPARE(refused, 1);
        QVERIFY2(why.contains(u"осталось прежнее издание"_s), qPrintable(why));
        QCOMPARE(run({u"--server"_s, PgCluster::kLoader, m_town.path(), m_town.path()}).first, 2);
        QCOMPARE(run({u"--from-db"_s, m_town.path()}).first, 2);
        QCOMPARE(servedId(), served);
    }

    // A load that does not finish changes nothing the seats see.
    void unfinishedLoadsLeaveTheServedEdition()
    {
        const qint64 served = servedId();
        const ServerLoadResult cancelled = load(PgCluster::kLoader, {}, [](qint64, qint64) { return false; });
        QVERIFY(!cancelled.ok && cancelled.cancelled);
        const QString junk = m_home.filePath(u"junk.db"_s);
        QVERIFY(test::writeBytes(junk, QByteArray(8192, 'x')));
        const ServerLoadResult failed = load(PgCluster::kLoader, junk);
        QVERIFY(!failed.ok && !failed.error.isEmpty());
        // The server going down halfway through.
        bool stopped = false;
        const ServerLoadResult cut = load(PgCluster::kLoader, {}, [&](qint64, qint64) {
            stopped = stopped || m_cluster.stop();
            return true;
        });
        QVERIFY(stopped && !cut.ok && !cut.cancelled);
        QVERIFY2(m_cluster.restart(), qPrintable(m_cluster.error()));
        const ServerLoadResult refused = load(PgCluster::kSeat);
        QVERIFY2(!refused.ok && refused.error.contains(u"office"_s), qPrintable(refused.error));

        QCOMPARE(servedId(), served);
        PgConnection super;
        QVERIFY(super.open(PgCluster::kSuper));
        const PgResult pieces = super.exec(u"SELECT DISTINCT edition FROM korvana.edition_chunk"_s);
        QCOMPARE(pieces.rows(), 1);
        QCOMPARE(pieces.int64(0, 0), served);
    }

    // A fetch cancelled, or an image damaged on the way, leaves the copy as it was.
    void unfinishedFetchesLeaveTheCopy()
    {
        const QByteArray before = test::readBytes(m_copy);
        QVERIFY(!before.isEmpty());
        const FetchResult cancelled = fetch(m_copy, [](qint64, qint64) { return false; });
        QVERIFY(!cancelled.ok && cancelled.cancelled);
        PgConnection super;
        QVERIFY(super.open(PgCluster::kSuper));
        QVERIFY(super.run(u"UPDATE korvana.edition_chunk SET data = set_byte(data, 100, get_byte(data, 100) # 1) WHERE seq = 0"_s));
        const FetchResult damaged = fetch(m_copy);
        QVERIFY2(!damaged.ok && damaged.error.contains(u"SHA-256"_s), qPrintable(damaged.error));
        QCOMPARE(test::readBytes(m_copy), before);
        QCOMPARE(QDir(QFileInfo(m_copy).path()).entryList(QDir::Files), QStringList{u"office.db"_s});
        QVERIFY(load().ok);
    }

    // The seats' role reads and nothing more.
    void seatRoleCannotWrite()
    {
        const qint64 served = servedId();
        PgConnection seat;
        QVERIFY(seat.open(PgCluster::kSeat));
        for (const QString &sql : {u"INSERT INTO korvana.edition (source_name, source_size, source_digest, residents,"
                                   " enterprises, personal) VALUES ('x', 1, 'x', 0, 0, 0)"_s,
                                   u"UPDATE korvana.served SET edition = edition"_s,
                                   u"DELETE FROM korvana.edition_chunk"_s, u"TRUNCATE korvana.edition_chunk"_s,
                                   u"CREATE TABLE korvana.mine (x int)"_s}) {
            const PgResult r = seat.exec(sql);
            QVERIFY2(!r.ok() && r.sqlState() == "42501", qPrintable(sql));
        }
        QCOMPARE(servedId(), served);
    }

    // Every value that reaches the server arrives as written; a service
    // name is one value, never more connection settings, never a path; a
    // refused login says why.
    void hostileTextArrivesAsWritten()
    {
        const QString name = u"it's \"x\"; DROP TABLE korvana.served; -- \\ $1 Ёж\t.db"_s;
        const QString path = m_home.filePath(name);
        QVERIFY(QFile::copy(m_town.path(), path));
        const ServerLoadResult loaded = load(PgCluster::kLoader, path);
        QVERIFY2(loaded.ok, qPrintable(loaded.error));
        // A file without the record of its Access file is known by its own name.
        QCOMPARE(loaded.edition.source.fileName, name);
        QCOMPARE(servedId(), loaded.edition.id);

        PgConnection db;
        QVERIFY(!db.open(PgCluster::kSeat + u" user=postgres dbname=postgres"_s));
        QVERIFY2(db.error().contains(u"not found"_s), qPrintable(db.error()));
        PgConnection super;
        QVERIFY(super.open(PgCluster::kSuper) && super.run(u"CREATE ROLE korvana_guest LOGIN PASSWORD 'right'"_s));
        m_cluster.addService(u"office_wrongpw"_s, u"korvana_guest"_s, u"guess"_s);
        QVERIFY(!db.open(u"office_wrongpw"_s));
        QVERIFY2(db.error().contains(u"password authentication failed"_s), qPrintable(db.error()));
        const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + u"/korvana/"_s;
        for (const QString &service : {u"../../etc/passwd"_s, u"/tmp/x"_s, u".."_s, u"офис 2"_s}) {
            const QFileInfo copy(seatCopyPath(service));
            QCOMPARE(copy.absolutePath() + u'/', cache);
            QVERIFY2(!copy.fileName().startsWith(u'.'), qPrintable(copy.filePath()));
        }
        QCOMPARE(seatCopyPath(u"office"_s), cache + u"office.db"_s);
        QVERIFY(seatCopyPath(u"a/b"_s) != seatCopyPath(u"a_b"_s));
    }

    // Server down: the seat is told, and finds the server again by itself.
    void serverStoppedAndBack()
    {
        EditionWatch watch(PgCluster::kSeat);
        watch.setRetryInterval(200);
        QSignalSpy heard(&watch, &EditionWatch::servedEditionIs);
        QSignalSpy lost(&watch, &EditionWatch::connectionLost);
        watch.start();
        QTRY_VERIFY_WITH_TIMEOUT(watch.isConnected(), 10000);
        QVERIFY(m_cluster.stop());
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 10000);
        QVERIFY(!watch.isConnected());
        PgConnection db;
        QVERIFY2(!db.open(PgCluster::kSeat) && db.error().contains(u"sock"_s), qPrintable(db.error()));
        heard.clear();
        QVERIFY2(m_cluster.restart(), qPrintable(m_cluster.error()));
        QTRY_COMPARE_WITH_TIMEOUT(heard.size(), 1, 10000);
        QCOMPARE(heard.at(0).at(0).toLongLong(), servedId());
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
