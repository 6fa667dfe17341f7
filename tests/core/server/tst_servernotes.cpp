// «Мой» of an office on a real PostgreSQL cluster the test starts itself:
// saves checked by version, rows kept apart per role by the server, the
// seats' mirrors and the notice that reaches another seat.

#include "pgcluster.h"
#include "testdb.h"
#include "testfiles.h"

#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "core/search/searchquery.h"
#include "core/server/editionwatch.h"
#include "core/server/officenotes.h"
#include "core/server/pgconnection.h"
#include "core/server/servernotes.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace korvana;
using namespace Qt::StringLiterals;
using korvana::test::PgCluster;

namespace {

QVariantList note(const char *number, const QString &family) { return {number, family, {}, {}, {}, {}, {}}; }

// Rows as "id:N_tel|Family" in id order, of a mirror or of the server as `service` sees it.
QStringList mirrorRows(Store &mirror)
{
    QStringList out;
    Statement::Use use(*mirror.statement(u"SELECT rowid, N_tel, Family FROM Note ORDER BY rowid"_s));
    while (use->step() == 100)
        out << u"%1:%2|%3"_s.arg(use->columnInt64(0)).arg(use->column(1).toString(), use->column(2).toString());
    return out;
}

QStringList serverRows(const QString &service = PgCluster::kSuper)
{
    PgConnection db;
    db.open(service);
    const PgResult r = db.exec(u"SELECT id, n_tel, family FROM korvana.note ORDER BY id"_s);
    QStringList out;
    for (int i = 0; i < r.rows(); ++i)
        out << u"%1:%2|%3"_s.arg(r.text(i, 0), r.text(i, 1), r.text(i, 2));
    return out;
}

// One seat: its connection and the mirror in its copy.
struct Seat {
    PgConnection db;
    test::TestDb copy;
    std::unique_ptr<ServerNotes> notes;
    explicit Seat(const QString &service, PersonalMode mode = PersonalMode::Shared)
    {
        db.open(service);
        notes = std::make_unique<ServerNotes>(db, *copy.store, mode);
    }
    QStringList rows() { return mirrorRows(*copy.store); }
};

} // namespace

class TestServerNotes : public QObject {
    Q_OBJECT
    PgCluster m_cluster;

private slots:
    void initTestCase()
    {
        KORVANA_START_CLUSTER(m_cluster);
        QVERIFY2(m_cluster.createSchema(), qPrintable(m_cluster.error()));
        PgConnection super;
        QVERIFY(super.open(PgCluster::kSuper));
        for (const QString &role : {u"op_a"_s, u"op_b"_s}) {
            QVERIFY(super.run(u"CREATE ROLE %1 LOGIN PASSWORD 'pw-%1'"_s.arg(role)));
            QVERIFY(super.run(u"GRANT CONNECT ON DATABASE korvana TO %1"_s.arg(role)));
            m_cluster.addService(role, role, u"pw-"_s + role);
        }
    }

    void cleanup()
    {
        PgConnection loader;
        QVERIFY(loader.open(PgCluster::kLoader) && loader.run(u"DELETE FROM korvana.note"_s));
    }

    // Two seats editing one shared list: a stale edit or delete is refused,
    // its values are named, and the mirror shows the server's row.
    void staleSavesAreRefused()
    {
        Seat a(PgCluster::kSeat), b(PgCluster::kSeat);
        const NoteSave added = a.notes->insert(note("12345", u"Сантехник"_s));
        QVERIFY2(added.ok(), qPrintable(added.reason()));
        QVERIFY(b.notes->refresh());
        QCOMPARE(b.rows(), QStringList{u"%1:12345|Сантехник"_s.arg(added.id)});
        QCOMPARE(a.rows(), b.rows());
        // Nothing changed: the mirror is not written at all.
        const quint64 before = b.copy.store->tableVersion(DirectoryKind::Personal);
        QVERIFY(b.notes->refresh());
        QCOMPARE(b.copy.store->tableVersion(DirectoryKind::Personal), before);

        QVERIFY(a.notes->edit(added.id, {{1, "Сантехник Иван"}}).ok());
        const NoteSave stale = b.notes->edit(added.id, {{1, "Электрик"}});
        QCOMPARE(stale.status, NoteSave::Status::Changed);
        QVERIFY(stale.reason().contains(u"изменена на другом рабочем месте"_s) && stale.reason().contains(u"Электрик"_s));
        QCOMPARE(b.rows(), QStringList{u"%1:12345|Сантехник Иван"_s.arg(added.id)});
        // Having seen it, the seat may change it.
        QVERIFY(b.notes->edit(added.id, {{1, "Электрик"}}).ok());

        QCOMPARE(a.notes->remove(added.id).status, NoteSave::Status::Changed); // a saw the old version
        QVERIFY(a.notes->remove(added.id).ok());
        const NoteSave gone = b.notes->edit(added.id, {{0, "54321"}});
        QCOMPARE(gone.status, NoteSave::Status::Deleted);
        QVERIFY(gone.reason().contains(u"54321"_s));
        QVERIFY(b.rows().isEmpty());
        QVERIFY(serverRows().isEmpty());

        // Hostile text is a value like any other.
        const QString hostile = u"'); DROP TABLE korvana.note; --"_s;
        QVERIFY(b.notes->insert({hostile, hostile, {}, {}, {}, {}, {}}).ok());
        QCOMPARE(serverRows().size(), 1);
        QVERIFY(serverRows().first().endsWith(hostile + u'|' + hostile));
    }

    // Own lists: the server keeps each role to its own rows whatever SQL it
    // sends; the shared list stays the office's, apart from them.
    void ownRowsAreKeptApart()
    {
        Seat a(u"op_a"_s, PersonalMode::Own), b(u"op_b"_s, PersonalMode::Own), office(u"op_b"_s);
        const NoteSave mine = a.notes->insert(note("111", u"Оператор А"_s));
        QVERIFY(mine.ok() && b.notes->insert(note("222", u"Оператор Б"_s)).ok());
        const NoteSave shared = office.notes->insert(note("333", u"Офис"_s));
        QVERIFY(shared.ok() && a.notes->refresh());
        QCOMPARE(a.rows(), QStringList{u"%1:111|Оператор А"_s.arg(mine.id)});
        QCOMPARE(office.rows(), QStringList{u"%1:333|Офис"_s.arg(shared.id)});
        QCOMPARE(b.notes->edit(mine.id, {{1, "чужое"}}).status, NoteSave::Status::Deleted);

        PgConnection &sql = b.db;
        QCOMPARE(sql.exec(u"SELECT id FROM korvana.note WHERE owner = 'op_a'"_s).rows(), 0);
        QCOMPARE(sql.exec(u"UPDATE korvana.note SET family = 'x' WHERE id = %1 RETURNING id"_s.arg(mine.id)).rows(), 0);
        QCOMPARE(sql.exec(u"DELETE FROM korvana.note WHERE id = %1 RETURNING id"_s.arg(mine.id)).rows(), 0);
        QVERIFY(!sql.run(u"INSERT INTO korvana.note (owner, family) VALUES ('op_a', 'подлог')"_s));
        QVERIFY(!sql.run(u"ALTER TABLE korvana.note DISABLE ROW LEVEL SECURITY"_s));
        // Its own row can be handed neither to another role nor into the shared list.
        QVERIFY(sql.run(u"UPDATE korvana.note SET owner = 'op_a', own = false WHERE own"_s));
        QCOMPARE(serverRows(u"op_a"_s), QStringList({u"%1:111|Оператор А"_s.arg(mine.id), u"%1:333|Офис"_s.arg(shared.id)}));
        QVERIFY(office.notes->refresh());
        QCOMPARE(office.rows().size(), 1);
    }

    // The «Мой» grid saves through the server and another seat's watch
    // hears of it within a second. Offline, a save is refused with a
    // message, the mirror keeps its rows and the typed row stays; back, the
    // watch asks for a refresh and the row is saved.
    void gridSavesAndOutage()
    {
        EditionWatch watch(PgCluster::kSeat);
        watch.setRetryInterval(200);
        QSignalSpy changed(&watch, &EditionWatch::notesChanged);
        watch.start();
        QTRY_VERIFY_WITH_TIMEOUT(watch.isConnected(), 10000);
        test::TestDb copy;
        OfficeNotes notes(PgCluster::kSeat, copy.store.get());
        RecordSource source(DirectoryKind::Personal);
        QVERIFY(notes.refresh() && notes.isOnline());
        source.setStore(copy.store.get());
        source.setWriter(&notes);
        source.setQuery(buildSearchQuery({}, DirectoryKind::Personal, SortField::Name, DirectoryKind::Personal));
        source.refresh();
        PersonalModel model(&source);
        changed.clear();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(model.setData(model.index(0, 0), u"04"_s) && model.setData(model.index(0, 1), u"Аварийная"_s));
        QVERIFY(model.submitPending());
        QTRY_VERIFY_WITH_TIMEOUT(!changed.isEmpty(), 1000);
        Seat reader(PgCluster::kSeat);
        QVERIFY(reader.notes->refresh() && clock.elapsed() < 1000);
        QCOMPARE(reader.rows(), mirrorRows(*copy.store));

        QVERIFY(m_cluster.stop());
        QVERIFY(model.setData(model.index(0, 1), u"Без связи"_s));
        QSignalSpy refused(&model, &PersonalModel::writeFailed);
        QVERIFY(!model.submitPending() && !notes.isOnline() && model.hasPendingRow());
        QVERIFY(refused.at(0).at(0).toString().contains(u"Нет связи"_s));
        QVERIFY(!notes.refresh());
        QCOMPARE(mirrorRows(*copy.store).size(), 1); // the last rows seen stay
        QVERIFY(m_cluster.restart());
        changed.clear();
        QTRY_VERIFY_WITH_TIMEOUT(!changed.isEmpty(), 10000);
        QVERIFY(notes.refresh() && notes.isOnline() && model.submitPending());
        QVERIFY(serverRows().first().endsWith(u"|Без связи"_s));
        QCOMPARE(mirrorRows(*copy.store), serverRows());
    }

    // An administrator adds a seat's local entries: once, without
    // duplicates, the file left byte for byte as it was.
    void localEntriesAddedOnce()
    {
        Seat office(PgCluster::kSeat);
        QVERIFY(office.notes->insert(note("101", u"Пожарная"_s)).ok());
        test::TestDb local;
        int number = 101; // the first one the office has already
        for (const QString &family : {u"Пожарная"_s, u"Полиция"_s, u"Скорая; DROP TABLE korvana.note"_s})
            local.add(DirectoryKind::Personal, {QString::number(number++), family, {}, {}, {}, {}, {}});
        local.store.reset();
        const QByteArray before = test::readBytes(local.path());
        for (const QString &added : {u"добавлено записей: 2"_s, u"добавлено записей: 0"_s}) {
            QProcess import;
            import.start(QStringLiteral(KORVANA_IMPORT_EXE), {u"--server"_s, PgCluster::kSeat, u"--personal-from"_s, local.path()});
            QVERIFY(import.waitForFinished(30000) && import.exitCode() == 0);
            QVERIFY2(QString::fromLocal8Bit(import.readAllStandardOutput()).contains(added), qPrintable(added));
        }
        QCOMPARE(serverRows().size(), 3);
        QCOMPARE(test::readBytes(local.path()), before);
    }
};

QTEST_GUILESS_MAIN(TestServerNotes)
#include "tst_servernotes.moc"
