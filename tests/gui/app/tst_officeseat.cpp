// A seat of the office server, on the real window and a real PostgreSQL
// cluster the test starts: start-up fetch, a new edition while running,
// the server out of reach.

#include "appfixture.h"
#include "pgcluster.h"
#include <sys/stat.h>

#include "core/server/editionwatch.h"
#include "core/server/serveredition.h"
#include "core/store/store.h"
#include "gui/app/officeseat.h"

#include <QTest>

using namespace korvana;
using korvana::test::AppFixture;
using korvana::test::PgCluster;

namespace {

const QByteArray kSeatSettings = "[Server]\nService=office\n";

// Loads an edition of the sample town with `extra` more residents.
qint64 loadTown(int extra)
{
    test::TestDb town;
    test::addSampleTown(town);
    for (int i = 0; i < extra; ++i)
        town.add(DirectoryKind::Residents, {QString::number(90000 + i), QStringLiteral("Офисов %1").arg(i), {}, {}, {}, {}, {}});
    const ServerLoadResult loaded = loadServerEditionFromDb(PgCluster::kLoader, town.path());
    if (!loaded.ok)
        qWarning("%s", qPrintable(loaded.error));
    return loaded.ok ? loaded.edition.id : 0;
}

} // namespace

class TestOfficeSeat : public QObject {
    Q_OBJECT
    PgCluster m_cluster;
    QTemporaryDir m_cache;

private slots:
    void initTestCase()
    {
        if (const QString why = PgCluster::skipReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY2(m_cluster.start(), qPrintable(m_cluster.error()));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache.path()));
    }

    // The first start fetches; a new edition is offered while running; No keeps the copy, Yes takes it.
    void seatFollowsTheServer()
    {
        QVERIFY(loadTown(1));
        AppFixture f(test::withFile(QStringLiteral("settings.ini"), kSeatSettings));
        QCOMPARE(f.messages.texts(), QStringList());
        QVERIFY(f.app->store());
        QCOMPARE(f.app->store()->path(), seatCopyPath(PgCluster::kSeat));
        const QString first = f.count();
        QTRY_VERIFY_WITH_TIMEOUT(f.app->seat()->watch()->isConnected(), 10000);

        f.messages.answerNext(MessageAnswer::No);
        const qint64 declined = loadTown(2);
        QTRY_COMPARE_WITH_TIMEOUT(f.messages.count(), 1, 10000);
        QVERIFY2(f.messages.texts().at(0).startsWith(QStringLiteral("Найден новый справочник: издание %1 на сервере «office».").arg(declined)),
                 qPrintable(f.messages.texts().at(0)));
        QCOMPARE(f.count(), first);
        QVERIFY(copiedEdition(seatCopyPath(PgCluster::kSeat)) != declined);

        const qint64 taken = loadTown(3); // answered Yes
        QTRY_COMPARE_WITH_TIMEOUT(f.messages.count(), 2, 10000);
        QTRY_VERIFY(f.count() != first);
        QCOMPARE(copiedEdition(seatCopyPath(PgCluster::kSeat)), taken);
        QCOMPARE(f.app->store()->tableRowCount(DirectoryKind::Residents),
                 Store::open(seatCopyPath(PgCluster::kSeat))->tableRowCount(DirectoryKind::Residents));
        QCOMPARE(f.messages.count(), 2);

        // Started again with nothing new: no question, no fetch (a fetch renames a new file in).
        const auto inode = [] {
            struct stat st {};
            return ::stat(QFile::encodeName(seatCopyPath(PgCluster::kSeat)).constData(), &st) == 0 ? st.st_ino : 0;
        };
        const ino_t before = inode();
        f.restart();
        QCOMPARE(f.messages.count(), 2);
        QCOMPARE(inode(), before);
    }

    // No server at start: one message naming the service and the reason, then the last copy.
    void serverOutOfReach()
    {
        QVERIFY(QFileInfo::exists(seatCopyPath(PgCluster::kSeat)));
        QVERIFY(m_cluster.stop());
        {
            AppFixture f(test::withFile(QStringLiteral("settings.ini"), kSeatSettings));
            QCOMPARE(f.messages.count(), 1);
            const QString text = f.messages.texts().at(0);
            QVERIFY2(text.startsWith(QStringLiteral("Нет связи с сервером справочника «office»:\r")), qPrintable(text));
            QVERIFY2(text.contains(QStringLiteral("sock")) && text.contains(QStringLiteral("Открыт справочник, полученный")),
                     qPrintable(text));
            QVERIFY(f.app->store());
            QCOMPARE(f.count(), QStringLiteral("из %1").arg(f.app->store()->tableRowCount(DirectoryKind::Residents)));
            QVERIFY2(m_cluster.restart(), qPrintable(m_cluster.error()));
            QTRY_VERIFY_WITH_TIMEOUT(f.app->seat()->watch()->isConnected(), 15000);
        }
        // A service nobody defined, and no copy yet: what the administrator must do.
        AppFixture f(test::withFile(QStringLiteral("settings.ini"), "[Server]\nService=nowhere\n"));
        QCOMPARE(f.messages.count(), 1);
        const QString text = f.messages.texts().at(0);
        QVERIFY2(text.contains(QStringLiteral("«nowhere»")) && text.contains(QStringLiteral("korvana-import --server"))
                     && text.contains(QStringLiteral("службу [nowhere] в pg_service.conf")),
                 qPrintable(text));
        QVERIFY(!f.app->store());
    }
};

QTEST_MAIN(TestOfficeSeat)
#include "tst_officeseat.moc"
