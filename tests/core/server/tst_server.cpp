// The office server on a real PostgreSQL cluster the test starts itself:
// editions loaded, served, fetched by seats, refused and survived.

#include "accessfixtures.h"
#include "pgcluster.h"
#include "testdb.h"
#include "testfiles.h"

#include "core/search/recordsource.h"
#include "core/search/searchquery.h"
#include "core/server/editionwatch.h"
#include "core/server/pgconnection.h"
#include "core/server/serveredition.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace korvana;
using korvana::test::PgCluster;

namespace {

// Every row a search shows, field by field, in the order shown.
QStringList searchRows(const QString &dbPath, DirectoryKind kind, const SearchCriteria &criteria)
{
    std::unique_ptr<Store> store = Store::open(dbPath);
    RecordSource source(kind);
    source.setStore(store.get());
    source.setQuery(buildSearchQuery(criteria, kind, SortField::Name, kind));
    source.refresh();
    QStringList rows;
    for (int r = 0; r < source.recordCount(); ++r) {
        QStringList fields;
        for (int c = 0; c < tableInfo(kind).fields.size(); ++c)
            fields << source.value(r, c).toString();
        rows << fields.join(u'|');
    }
    return rows;
}

qint64 servedId(const QString &service = PgCluster::kSeat)
{
    PgConnection db;
    QString error;
    if (!db.open(service))
        return -1;
    const std::optional<ServedEdition> e = servedEdition(db, &error);
    return e ? e->id : 0;
}

} // namespace

class TestServer : public QObject {
    Q_OBJECT
    PgCluster m_cluster;
    QTemporaryDir m_home; // the seats' cache folder
    test::TestDb m_town;  // the edition the tests load first

    QString copyOf(const QString &seat) { return m_home.filePath(seat + QStringLiteral("/korvana/office.db")); }

private slots:
    void initTestCase()
    {
        if (const QString why = PgCluster::skipReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY2(m_cluster.start(), qPrintable(m_cluster.error()));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_home.path()));
        test::addSampleTown(m_town);
        m_town.add(DirectoryKind::Enterprises, {"Аптека «Здоровье»", "21000", "круглосуточно", "Ленина", "1", {}, {}, {}});
        // The administrator's own entry is not part of the edition.
        m_town.add(DirectoryKind::Personal, {"11111", "Личное", {}, {}, {}, {}, {}});
    }

    // Loaded once, fetched by two seats: each copy searches as the file loaded.
    void seatsSearchTheLoadedEdition()
    {
        QCOMPARE(servedId(), 0); // nothing loaded yet: no error, no edition
        const ServerLoadResult loaded = loadServerEditionFromDb(PgCluster::kLoader, m_town.path());
        QVERIFY2(loaded.ok, qPrintable(loaded.error));
        QCOMPARE(loaded.edition.source.fileName, QStringLiteral("kadu.db"));
        QCOMPARE(loaded.edition.source.residents, m_town.store->tableRowCount(DirectoryKind::Residents));
        QCOMPARE(loaded.edition.source.personal, 0);
        QCOMPARE(loaded.edition.loadedBy, QStringLiteral("korvana_loader"));
        QCOMPARE(servedId(), loaded.edition.id);

        for (const QString &seat : {QStringLiteral("a"), QStringLiteral("b")}) {
            PgConnection db;
            QVERIFY2(db.open(PgCluster::kSeat), qPrintable(db.error()));
            const FetchResult fetched = fetchServedEdition(db, copyOf(seat));
            QVERIFY2(fetched.ok, qPrintable(fetched.error));
            QCOMPARE(copiedEdition(copyOf(seat)), loaded.edition.id);
            for (DirectoryKind kind : {DirectoryKind::Residents, DirectoryKind::Enterprises})
                QCOMPARE(test::tableCsv(copyOf(seat), kind), test::tableCsv(m_town.path(), kind));
            QCOMPARE(test::personalRows(copyOf(seat)), QStringList());
            for (const SearchCriteria &c : {SearchCriteria{{}, QStringLiteral("пет"), {}, {}, {}},
                                            SearchCriteria{{}, QStringLiteral("*а"), QStringLiteral("ле"), {}, {}},
                                            SearchCriteria{QStringLiteral("2"), {}, {}, QStringLiteral("1"), {}}}) {
                const QStringList expected = searchRows(m_town.path(), DirectoryKind::Residents, c);
                QVERIFY(!expected.isEmpty());
                QCOMPARE(searchRows(copyOf(seat), DirectoryKind::Residents, c), expected);
            }
        }
    }

    void accessFileIsLoadedWithItsRecord()
    {
        const QString mdb = test::accessFixture(test::kJet4);
        const ServerLoadResult loaded = loadServerEditionFromAccess(PgCluster::kLoader, mdb);
        QVERIFY2(loaded.ok, qPrintable(loaded.error));
        std::optional<Edition> file = fileEdition(mdb);
        QVERIFY(file && computeDigest(*file, mdb));
        QCOMPARE(loaded.edition.source.fileName, file->fileName);
        QCOMPARE(loaded.edition.source.digest, file->digest);
        QCOMPARE(loaded.edition.source.modified, file->modified);
        PgConnection db;
        QVERIFY(db.open(PgCluster::kSeat));
        const QString copy = m_home.filePath(QStringLiteral("access.db"));
        QVERIFY(fetchServedEdition(db, copy).ok);
        QCOMPARE(test::tableCsv(copy, DirectoryKind::Residents),
                 test::expectedCsv(test::kJet4, DirectoryKind::Residents));
    }

    // A running seat hears of a new edition; taking it keeps the seat's «Мой».
    void newEditionReachesARunningSeat()
    {
        PgConnection db;
        QVERIFY(db.open(PgCluster::kSeat));
        QVERIFY(fetchServedEdition(db, copyOf(QStringLiteral("a"))).ok);
        {
            std::unique_ptr<Store> mine = Store::open(copyOf(QStringLiteral("a")));
            QVERIFY(mine->insertRow(DirectoryKind::Personal, {"55555", "Моя запись", {}, {}, {}, {}, {}}));
        }
        const QStringList mine = test::personalRows(copyOf(QStringLiteral("a")));
        QCOMPARE(mine.size(), 1);
        const qint64 before = servedId();
        EditionWatch watch(PgCluster::kSeat);
        QSignalSpy heard(&watch, &EditionWatch::servedEditionIs);
        watch.start();
        QTRY_VERIFY_WITH_TIMEOUT(watch.isConnected(), 10000);
        QTRY_COMPARE(heard.size(), 1);
        QCOMPARE(heard.takeFirst().at(0).toLongLong(), before);

        test::TestDb next;
        next.add(DirectoryKind::Residents, {"77777", "Новиков Н.Н.", "Новая", "1", {}, {}, {}});
        const ServerLoadResult loaded = loadServerEditionFromDb(PgCluster::kLoader, next.path());
        QVERIFY2(loaded.ok, qPrintable(loaded.error));
        QTRY_COMPARE_WITH_TIMEOUT(heard.size(), 1, 10000);
        QCOMPARE(heard.takeFirst().at(0).toLongLong(), loaded.edition.id);

        const FetchResult fetched = fetchServedEdition(db, copyOf(QStringLiteral("a")));
        QVERIFY2(fetched.ok, qPrintable(fetched.error));
        QCOMPARE(test::tableCsv(copyOf(QStringLiteral("a")), DirectoryKind::Residents),
                 test::tableCsv(next.path(), DirectoryKind::Residents));
        QCOMPARE(test::personalRows(copyOf(QStringLiteral("a"))), mine);
    }

    // The administrator's command: a load, and a refusal that says what stays.
    void commandLineLoads()
    {
        const auto run = [](const QStringList &args) {
            QProcess p;
            p.start(QStringLiteral(KORVANA_IMPORT_EXE), args);
            p.waitForFinished(120000);
            return std::pair{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
        };
        const auto [code, text] = run({QStringLiteral("--server"), PgCluster::kLoader, QStringLiteral("--from-db"), m_town.path()});
        QVERIFY2(code == 0, qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("издание %1 ").arg(servedId())), qPrintable(text));
        const qint64 served = servedId();
        const auto [refused, why] = run({QStringLiteral("--server"), PgCluster::kSeat, QStringLiteral("--from-db"), m_town.path()});
        QCOMPARE(refused, 1);
        QVERIFY2(why.contains(QStringLiteral("осталось прежнее издание")), qPrintable(why));
        QCOMPARE(run({QStringLiteral("--server"), PgCluster::kLoader, m_town.path(), m_town.path()}).first, 2);
        QCOMPARE(run({QStringLiteral("--from-db"), m_town.path()}).first, 2);
        QCOMPARE(servedId(), served);
    }

    // A load that does not finish changes nothing the seats see.
    void unfinishedLoadsLeaveTheServedEdition()
    {
        QVERIFY(loadServerEditionFromDb(PgCluster::kLoader, m_town.path()).ok);
        const qint64 served = servedId();
        const ServerLoadResult cancelled =
            loadServerEditionFromDb(PgCluster::kLoader, m_town.path(), [](qint64, qint64) { return false; });
        QVERIFY(!cancelled.ok);
        QVERIFY(cancelled.cancelled);
        const QString junk = m_home.filePath(QStringLiteral("junk.db"));
        QVERIFY(test::writeBytes(junk, QByteArray(8192, 'x')));
        const ServerLoadResult failed = loadServerEditionFromDb(PgCluster::kLoader, junk);
        QVERIFY(!failed.ok);
        QVERIFY(!failed.error.isEmpty());
        // The server going down halfway through.
        bool stopped = false;
        const ServerLoadResult cut = loadServerEditionFromDb(PgCluster::kLoader, m_town.path(), [&](qint64, qint64) {
            stopped = stopped || m_cluster.stop();
            return true;
        });
        QVERIFY(stopped);
        QVERIFY(!cut.ok && !cut.cancelled);
        QVERIFY2(m_cluster.restart(), qPrintable(m_cluster.error()));
        // The seat's role may not load at all.
        const ServerLoadResult refused = loadServerEditionFromDb(PgCluster::kSeat, m_town.path());
        QVERIFY(!refused.ok);
        QVERIFY2(refused.error.contains(QStringLiteral("office")), qPrintable(refused.error));

        QCOMPARE(servedId(), served);
        PgConnection super;
        QVERIFY(super.open(PgCluster::kSuper));
        const PgResult pieces = super.exec(QStringLiteral("SELECT DISTINCT edition FROM korvana.edition_chunk"));
        QCOMPARE(pieces.rows(), 1);
        QCOMPARE(pieces.int64(0, 0), served);
    }

    // A fetch cancelled, or an image damaged on the way, leaves the copy as it was.
    void unfinishedFetchesLeaveTheCopy()
    {
        const QString copy = copyOf(QStringLiteral("b"));
        const QByteArray before = test::readBytes(copy);
        QVERIFY(!before.isEmpty());
        PgConnection db, super;
        QVERIFY(db.open(PgCluster::kSeat) && super.open(PgCluster::kSuper));
        const FetchResult cancelled = fetchServedEdition(db, copy, [](qint64, qint64) { return false; });
        QVERIFY(!cancelled.ok && cancelled.cancelled);

        QVERIFY(super.run(QStringLiteral("UPDATE korvana.edition_chunk SET data = set_byte(data, 100, get_byte(data, 100) # 1)"
                                         " WHERE seq = 0")));
        const FetchResult damaged = fetchServedEdition(db, copy);
        QVERIFY(!damaged.ok);
        QVERIFY2(damaged.error.contains(QStringLiteral("SHA-256")), qPrintable(damaged.error));
        QCOMPARE(test::readBytes(copy), before);
        QCOMPARE(QDir(QFileInfo(copy).path()).entryList(QDir::Files), QStringList{QStringLiteral("office.db")});
        QVERIFY(loadServerEditionFromDb(PgCluster::kLoader, m_town.path()).ok);
    }

    // The seats' role reads and nothing more.
    void seatRoleCannotWrite()
    {
        const qint64 served = servedId();
        PgConnection seat;
        QVERIFY(seat.open(PgCluster::kSeat));
        for (const QString &sql : {
                 QStringLiteral("INSERT INTO korvana.edition (source_name, source_size, source_digest, residents,"
                                " enterprises, personal) VALUES ('x', 1, 'x', 0, 0, 0)"),
                 QStringLiteral("UPDATE korvana.served SET edition = edition"),
                 QStringLiteral("DELETE FROM korvana.edition_chunk"),
                 QStringLiteral("TRUNCATE korvana.edition_chunk"),
                 QStringLiteral("DROP TABLE korvana.served"),
                 QStringLiteral("CREATE TABLE korvana.mine (x int)"),
                 QStringLiteral("SELECT pg_notify('korvana_edition', '1'); UPDATE korvana.served SET edition = 1"),
             }) {
            const PgResult r = seat.exec(sql);
            QVERIFY2(!r.ok(), qPrintable(sql));
            QVERIFY2(r.sqlState() == "42501" || r.sqlState() == "42601", r.sqlState().constData());
        }
        QCOMPARE(servedId(), served);
    }

    // Every value that reaches the server arrives as written.
    void hostileTextArrivesAsWritten()
    {
        const QString name = QStringLiteral("it's \"x\"; DROP TABLE korvana.served; -- \\ $1 Ёж\t.db");
        const QString path = m_home.filePath(name);
        QVERIFY(QFile::copy(m_town.path(), path));
        const ServerLoadResult loaded = loadServerEditionFromDb(PgCluster::kLoader, path);
        QVERIFY2(loaded.ok, qPrintable(loaded.error));
        // A file without the record of its Access file is known by its own name.
        QCOMPARE(loaded.edition.source.fileName, name);
        QCOMPARE(servedId(), loaded.edition.id);

        // A service name is one value, never more connection settings, never a path.
        PgConnection db;
        QVERIFY(!db.open(PgCluster::kSeat + QStringLiteral(" user=postgres dbname=postgres")));
        QVERIFY2(db.error().contains(QStringLiteral("not found")), qPrintable(db.error()));
        const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
            + QStringLiteral("/korvana/");
        for (const QString &service : {QStringLiteral("../../etc/passwd"), QStringLiteral("/tmp/x"),
                                       QStringLiteral(".."), QStringLiteral("офис 2")}) {
            const QString copy = seatCopyPath(service);
            QCOMPARE(QFileInfo(copy).absolutePath() + u'/', cache);
            QVERIFY2(!QFileInfo(copy).fileName().startsWith(u'.'), qPrintable(copy));
        }
        QCOMPARE(seatCopyPath(QStringLiteral("office")), cache + QStringLiteral("office.db"));
        QVERIFY(seatCopyPath(QStringLiteral("a/b")) != seatCopyPath(QStringLiteral("a_b")));
    }

    void connectionFailuresSayWhy()
    {
        PgConnection db;
        QVERIFY(!db.open(QStringLiteral("nosuchservice")));
        QVERIFY2(db.error().contains(QStringLiteral("nosuchservice")), qPrintable(db.error()));
        PgConnection super;
        QVERIFY(super.open(PgCluster::kSuper));
        QVERIFY(super.run(QStringLiteral("CREATE ROLE korvana_guest LOGIN PASSWORD 'right'")));
        m_cluster.addService(QStringLiteral("office_wrongpw"), QStringLiteral("korvana_guest"), QStringLiteral("guess"));
        QVERIFY(!db.open(QStringLiteral("office_wrongpw")));
        QVERIFY2(db.error().contains(QStringLiteral("password authentication failed")), qPrintable(db.error()));
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
        QVERIFY(!db.open(PgCluster::kSeat));
        QVERIFY2(db.error().contains(QStringLiteral("sock")), qPrintable(db.error()));
        heard.clear();
        QVERIFY2(m_cluster.restart(), qPrintable(m_cluster.error()));
        QTRY_VERIFY_WITH_TIMEOUT(watch.isConnected(), 10000);
        QTRY_COMPARE(heard.size(), 1);
        QCOMPARE(heard.at(0).at(0).toLongLong(), servedId());
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
