// A seat of the office server, on the real window and a real PostgreSQL
// cluster the test starts: start-up fetch, a new edition while running,
// the server out of reach.

#include "appfixture.h"
#include "pgcluster.h"
#include <sys/stat.h>

#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "core/server/editionwatch.h"
#include "core/server/pgconnection.h"
#include "core/server/serveredition.h"
#include "core/store/store.h"
#include "gui/app/officeseat.h"
#include "gui/window/controls.h"
#include "gui/window/mainwindow.h"

#include <QLabel>
#include <QSignalSpy>
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

    // Another seat's «Мой» changes reach the tab without a keystroke; the
    // row being edited is left alone, and its save then shows the other
    // seat's row and names what was typed.
    void personalIsLive()
    {
        AppFixture f(test::withFile(QStringLiteral("settings.ini"), kSeatSettings));
        QTRY_VERIFY_WITH_TIMEOUT(f.app->seat()->watch()->isConnected(), 10000);
        f.app->window()->searchPanel().tabs->setCurrentIndex(2); // «Мой»
        RecordSource *mine = f.app->source(DirectoryKind::Personal);
        PersonalModel *model = f.app->personalModel();
        const int before = mine->recordCount();
        const auto rowOf = [mine](const QString &number) {
            for (int r = 0; r < mine->recordCount(); ++r)
                if (mine->value(r, 0).toString() == number)
                    return r;
            return -1;
        };
        PgConnection other;
        QVERIFY(other.open(PgCluster::kSeat));
        QVERIFY(other.run(QStringLiteral("INSERT INTO korvana.note (n_tel, family) VALUES ('900', 'Соседний пост')")));
        QTRY_COMPARE_WITH_TIMEOUT(mine->recordCount(), before + 1, 1000);
        QCOMPARE(f.count(), QStringLiteral("из %1").arg(before + 1));

        const int row = rowOf(QStringLiteral("900"));
        QVERIFY(model->setData(model->index(row, 1), QStringLiteral("Мой пост")));
        QSignalSpy notices(f.app->seat()->watch(), &EditionWatch::notesChanged);
        QVERIFY(other.run(QStringLiteral("UPDATE korvana.note SET family = 'Их пост' WHERE n_tel = '900'")));
        QTRY_VERIFY_WITH_TIMEOUT(!notices.isEmpty(), 1000);
        QCoreApplication::processEvents();
        QVERIFY(model->hasPendingRow());
        QCOMPARE(model->data(model->index(row, 1)).toString(), QStringLiteral("Мой пост"));

        QVERIFY(!model->submitPending());
        QCOMPARE(f.messages.count(), 1);
        QVERIFY2(f.messages.texts().at(0).contains(QStringLiteral("изменена на другом рабочем месте"))
                     && f.messages.texts().at(0).contains(QStringLiteral("Мой пост")),
                 qPrintable(f.messages.texts().at(0)));
        QCOMPARE(model->data(model->index(rowOf(QStringLiteral("900")), 1)).toString(), QStringLiteral("Их пост"));
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
            // «Мой» shows its last rows and takes no edits until the server is back.
            QLabel *status = f.app->window()->dialPanel().status;
            DirectoryGrid *grid = f.app->window()->grid(DirectoryKind::Personal);
            QCOMPARE(status->text(), QStringLiteral("Нет связи с сервером"));
            QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
            QVERIFY2(m_cluster.restart(), qPrintable(m_cluster.error()));
            QTRY_VERIFY_WITH_TIMEOUT(f.app->seat()->watch()->isConnected(), 15000);
            QTRY_VERIFY_WITH_TIMEOUT(status->text().isEmpty(), 5000);
            QVERIFY(grid->editTriggers() != QAbstractItemView::NoEditTriggers);
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
