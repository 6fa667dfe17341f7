// «Мой» of an office on a real PostgreSQL cluster the test starts itself:
// saves checked by version, rows kept apart per role by the server, the
// seats' mirrors and the notice that reaches another seat.

#include "pgcluster.h"
#include "testdb.h"

#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "core/search/searchquery.h"
#include "core/server/editionwatch.h"
#include "core/server/officenotes.h"
#include "core/server/pgconnection.h"
#include "core/server/serveredition.h"
#include "core/server/servernotes.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace korvana;
using korvana::test::PgCluster;

namespace {

// One seat: its connection and the mirror in its copy.
struct Seat {
    PgConnection db;
    test::TestDb copy;
    std::unique_ptr<ServerNotes> notes;
    explicit Seat(const QString &service)
    {
        db.open(service);
        notes = std::make_unique<ServerNotes>(db, *copy.store);
    }
    // The mirror's rows as "id:N_tel|Family" in rowid order.
    QStringList rows()
    {
        QStringList out;
        Statement *s = copy.store->statement(QStringLiteral("SELECT rowid, N_tel, Family FROM Note ORDER BY rowid"));
        Statement::Use use(*s);
        while (use->step() == 100)
            out << QStringLiteral("%1:%2|%3").arg(use->columnInt64(0)).arg(use->column(1).toString(),
                                                                           use->column(2).toString());
        return out;
    }
};

QStringList serverRows(const QString &service)
{
    PgConnection db;
    db.open(service);
    const PgResult r = db.exec(QStringLiteral("SELECT id, n_tel, family FROM korvana.note ORDER BY id"));
    QStringList out;
    for (int i = 0; i < r.rows(); ++i)
        out << QStringLiteral("%1:%2|%3").arg(r.text(i, 0), r.text(i, 1), r.text(i, 2));
    return out;
}

} // namespace

class TestServerNotes : public QObject {
    Q_OBJECT
    PgCluster m_cluster;

    void setMode(PersonalMode mode)
    {
        PgConnection loader;
        QString error;
        QVERIFY2(loader.open(PgCluster::kLoader) && setPersonalMode(loader, mode, &error), qPrintable(error));
    }

private slots:
    void initTestCase()
    {
        if (const QString why = PgCluster::skipReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY2(m_cluster.start(), qPrintable(m_cluster.error()));
        PgConnection loader, super;
        QString error;
        QVERIFY2(loader.open(PgCluster::kLoader) && ensureServerSchema(loader, &error), qPrintable(error));
        QVERIFY(super.open(PgCluster::kSuper));
        for (const char *role : {"op_a", "op_b"}) {
            QVERIFY(super.run(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD 'pw-%1'").arg(QLatin1String(role))));
            QVERIFY(super.run(QStringLiteral("GRANT CONNECT ON DATABASE korvana TO %1").arg(QLatin1String(role))));
            m_cluster.addService(QLatin1String(role), QLatin1String(role), QStringLiteral("pw-") + QLatin1String(role));
        }
    }

    void init() { QVERIFY(PgConnection().open(PgCluster::kLoader)); }
    void cleanup()
    {
        PgConnection loader;
        loader.open(PgCluster::kLoader);
        loader.run(QStringLiteral("DELETE FROM korvana.note"));
        setMode(PersonalMode::Shared);
    }

    // Two seats editing one shared list: a stale edit or delete is refused,
    // its values are named, and the mirror shows the server's row.
    void staleSavesAreRefused()
    {
        Seat a(PgCluster::kSeat), b(PgCluster::kSeat);
        const NoteSave added = a.notes->insert({"12345", "Сантехник", {}, {}, {}, {}, {}});
        QVERIFY2(added.ok(), qPrintable(added.reason()));
        QVERIFY(b.notes->refresh());
        QCOMPARE(b.rows(), QStringList{QStringLiteral("%1:12345|Сантехник").arg(added.id)});
        QCOMPARE(a.rows(), b.rows());

        // Nothing changed: the mirror is not written at all.
        const quint64 before = b.copy.store->tableVersion(DirectoryKind::Personal);
        QVERIFY(b.notes->refresh());
        QCOMPARE(b.copy.store->tableVersion(DirectoryKind::Personal), before);

        QVERIFY(a.notes->edit(added.id, {{1, "Сантехник Иван"}}).ok());
        const NoteSave stale = b.notes->edit(added.id, {{1, "Электрик"}});
        QCOMPARE(stale.status, NoteSave::Status::Changed);
        QVERIFY(stale.reason().contains(QStringLiteral("изменена на другом рабочем месте")));
        QVERIFY(stale.reason().contains(QStringLiteral("Электрик")));
        QCOMPARE(b.rows(), QStringList{QStringLiteral("%1:12345|Сантехник Иван").arg(added.id)});
        // Having seen it, the seat may change it.
        QVERIFY(b.notes->edit(added.id, {{1, "Электрик"}}).ok());

        QCOMPARE(a.notes->remove(added.id).status, NoteSave::Status::Changed); // a saw the old version
        QVERIFY(a.notes->remove(added.id).ok());
        const NoteSave gone = b.notes->edit(added.id, {{0, "54321"}});
        QCOMPARE(gone.status, NoteSave::Status::Deleted);
        QVERIFY(gone.reason().contains(QStringLiteral("54321")));
        QVERIFY(b.rows().isEmpty());
        QVERIFY(serverRows(PgCluster::kSuper).isEmpty());

        // Hostile text is a value like any other.
        const QString hostile = QStringLiteral("'); DROP TABLE korvana.note; --");
        QVERIFY(b.notes->insert({hostile, hostile, {}, {}, {}, {}, {}}).ok());
        QCOMPARE(serverRows(PgCluster::kSuper).size(), 1);
        QVERIFY(serverRows(PgCluster::kSuper).first().endsWith(hostile + u'|' + hostile));
    }

    // Per operator: the server keeps each role to its own rows whatever SQL it sends.
    void ownRowsAreKeptApart()
    {
        setMode(PersonalMode::Own);
        Seat a(QStringLiteral("op_a")), b(QStringLiteral("op_b"));
        const NoteSave mine = a.notes->insert({"111", "Оператор А", {}, {}, {}, {}, {}});
        QVERIFY(mine.ok());
        QVERIFY(b.notes->insert({"222", "Оператор Б", {}, {}, {}, {}, {}}).ok());
        QVERIFY(a.notes->refresh() && b.notes->refresh());
        QCOMPARE(a.rows(), QStringList{QStringLiteral("%1:111|Оператор А").arg(mine.id)});
        QCOMPARE(b.rows().size(), 1);
        QCOMPARE(b.notes->edit(mine.id, {{1, "чужое"}}).status, NoteSave::Status::Deleted);

        const QString id = QString::number(mine.id);
        PgConnection &sql = b.db;
        QCOMPARE(sql.exec(QStringLiteral("SELECT count(*) FROM korvana.note WHERE owner = 'op_a'")).text(0, 0), "0");
        QCOMPARE(sql.exec(QStringLiteral("UPDATE korvana.note SET family = 'x' WHERE id = %1 RETURNING id").arg(id)).rows(), 0);
        QCOMPARE(sql.exec(QStringLiteral("DELETE FROM korvana.note WHERE id = %1 RETURNING id").arg(id)).rows(), 0);
        QVERIFY(!sql.run(QStringLiteral("INSERT INTO korvana.note (owner, family) VALUES ('op_a', 'подлог')")));
        QVERIFY(!sql.run(QStringLiteral("UPDATE korvana.personal_mode SET own = false")));
        QVERIFY(!sql.run(QStringLiteral("ALTER TABLE korvana.note DISABLE ROW LEVEL SECURITY")));
        // Its own row cannot be handed over to another role either.
        sql.run(QStringLiteral("UPDATE korvana.note SET owner = 'op_a'"));
        QCOMPARE(serverRows(QStringLiteral("op_a")), QStringList{QStringLiteral("%1:111|Оператор А").arg(mine.id)});
        QCOMPARE(serverRows(PgCluster::kSuper).size(), 2);

        // Shared again: every role sees the office's list.
        setMode(PersonalMode::Shared);
        QVERIFY(b.notes->refresh());
        QCOMPARE(b.rows().size(), 2);
    }

    // The «Мой» grid of two seats: every save goes to the server; a stale one
    // shows the other seat's row and names what was typed; offline, a save
    // is refused with a message and the typed row stays until the server is back.
    void gridSavesThroughTheServer()
    {
        test::TestDb copyA, copyB;
        OfficeNotes a(PgCluster::kSeat, copyA.store.get()), b(PgCluster::kSeat, copyB.store.get());
        RecordSource sa(DirectoryKind::Personal), sb(DirectoryKind::Personal);
        const SearchQuery all = buildSearchQuery({}, DirectoryKind::Personal, SortField::Name, DirectoryKind::Personal);
        for (auto [source, copy, notes] : {std::tuple{&sa, &copyA, &a}, std::tuple{&sb, &copyB, &b}}) {
            QVERIFY(notes->refresh() && notes->isOnline());
            source->setStore(copy->store.get());
            source->setWriter(notes);
            source->setQuery(all);
            source->refresh();
        }
        PersonalModel ma(&sa), mb(&sb);
        QSignalSpy refusedB(&mb, &PersonalModel::writeFailed);

        QVERIFY(ma.setData(ma.index(0, 0), QStringLiteral("04")));
        QVERIFY(ma.setData(ma.index(0, 1), QStringLiteral("Аварийная")));
        QVERIFY(ma.submitPending());
        QCOMPARE(sa.recordCount(), 1);
        QVERIFY(b.refresh());
        sb.refresh();
        QCOMPARE(mb.data(mb.index(0, 1)).toString(), QStringLiteral("Аварийная"));

        QVERIFY(ma.setData(ma.index(0, 1), QStringLiteral("Аварийная служба")));
        QVERIFY(ma.submitPending());
        QVERIFY(mb.setData(mb.index(0, 1), QStringLiteral("Газовая")));
        QVERIFY(!mb.submitPending());
        QCOMPARE(refusedB.size(), 1);
        QVERIFY(refusedB.takeFirst().at(0).toString().contains(QStringLiteral("Газовая")));
        QVERIFY(!mb.hasPendingRow());
        QCOMPARE(mb.data(mb.index(0, 1)).toString(), QStringLiteral("Аварийная служба"));

        QVERIFY(ma.removeEntry(0));
        QVERIFY(!mb.removeEntry(0));
        QCOMPARE(refusedB.size(), 1);
        QCOMPARE(sb.recordCount(), 0);

        QVERIFY(m_cluster.stop());
        QVERIFY(ma.setData(ma.index(0, 1), QStringLiteral("Без связи")));
        QSignalSpy refusedA(&ma, &PersonalModel::writeFailed);
        QVERIFY(!ma.submitPending());
        QVERIFY(!a.isOnline());
        QVERIFY(refusedA.at(0).at(0).toString().contains(QStringLiteral("Нет связи")));
        QVERIFY(ma.hasPendingRow());
        QVERIFY(!a.refresh());
        QVERIFY(m_cluster.restart());
        QVERIFY(a.refresh() && a.isOnline());
        QVERIFY(ma.submitPending());
        QVERIFY(serverRows(PgCluster::kSuper).first().endsWith(QStringLiteral("|Без связи")));
    }

    // An administrator adds a seat's local entries: once, without
    // duplicates, the file left byte for byte as it was.
    void localEntriesAddedOnce()
    {
        Seat office(PgCluster::kSeat);
        QVERIFY(office.notes->insert({"101", "Пожарная", {}, {}, {}, {}, {}}).ok());
        test::TestDb local;
        local.add(DirectoryKind::Personal, {"101", "Пожарная", {}, {}, {}, {}, {}});
        local.add(DirectoryKind::Personal, {"102", "Полиция", "Ленина", "1", {}, {}, {}});
        local.add(DirectoryKind::Personal, {"103", "Скорая; DROP TABLE korvana.note", {}, {}, {}, {}, {}});
        local.store.reset();
        QFile file(local.path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
        file.close();
        for (const char *added : {"добавлено записей: 2", "добавлено записей: 0"}) {
            QProcess import;
            import.start(QStringLiteral(KORVANA_IMPORT_EXE),
                         {QStringLiteral("--server"), PgCluster::kSeat, QStringLiteral("--personal-from"), local.path()});
            QVERIFY(import.waitForFinished(30000));
            QCOMPARE(import.exitCode(), 0);
            QVERIFY2(QString::fromLocal8Bit(import.readAllStandardOutput()).contains(QString::fromUtf8(added)),
                     added);
        }
        QCOMPARE(serverRows(PgCluster::kSuper).size(), 3);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256), before);
    }

    // A change reaches another seat's watch within a second; a server
    // restart loses nothing: the mirror keeps its rows while it is down and
    // the watch asks for a refresh once it is back.
    void noticesAndOutage()
    {
        EditionWatch watch(PgCluster::kSeat);
        watch.setRetryInterval(200);
        QSignalSpy changed(&watch, &EditionWatch::notesChanged);
        watch.start();
        QTRY_VERIFY_WITH_TIMEOUT(watch.isConnected(), 10000);
        changed.clear();

        Seat writer(PgCluster::kSeat), reader(PgCluster::kSeat);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(writer.notes->insert({"777", "Диспетчер", {}, {}, {}, {}, {}}).ok());
        QTRY_VERIFY_WITH_TIMEOUT(!changed.isEmpty(), 1000);
        QVERIFY(reader.notes->refresh());
        QVERIFY(clock.elapsed() < 1000);
        QCOMPARE(reader.rows().size(), 1);

        QVERIFY(m_cluster.stop());
        QString error;
        QVERIFY(!reader.notes->refresh(&error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(reader.rows().size(), 1); // the last rows seen stay
        QCOMPARE(reader.notes->insert({"1", "x", {}, {}, {}, {}, {}}).status, NoteSave::Status::Failed);
        QVERIFY(m_cluster.restart());
        changed.clear();
        QTRY_VERIFY_WITH_TIMEOUT(!changed.isEmpty(), 10000);
        QVERIFY(reader.db.open(PgCluster::kSeat));
        QVERIFY(reader.notes->refresh());
        QCOMPARE(reader.rows(), serverRows(PgCluster::kSuper));
    }
};

QTEST_GUILESS_MAIN(TestServerNotes)
#include "tst_servernotes.moc"
