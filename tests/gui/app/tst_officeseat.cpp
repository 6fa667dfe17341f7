// A seat of the office server, on the real window and a real PostgreSQL
// cluster the test starts: start-up fetch, a new edition while running,
// «Мой» changed by another seat, the server out of reach.

#include "appfixture.h"
#include "pgcluster.h"

#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "core/server/editionwatch.h"
#include "core/server/pgconnection.h"
#include "core/server/serveredition.h"
#include "core/server/officenotes.h"
#include "gui/app/officepersonal.h"
#include "gui/app/officeseat.h"
#include "gui/window/controls.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

using namespace korvana;
using namespace Qt::StringLiterals;
using korvana::test::AppFixture;
using korvana::test::PgCluster;

namespace {

// A seat of `service`; its own kadu.db keeps the «Мой» entries of `mine`
// (none: no question of adding them to the server).
std::function<void(test::TestDb &)> seatSettings(const QByteArray &service = "office", const QByteArray &more = {},
                                                 const QList<QVariantList> &mine = {})
{
    return [=](test::TestDb &db) {
        test::withFile(u"settings.ini"_s, "[Server]\nService=" + service + "\n" + more)(db);
        QVERIFY(db.store->deleteRow(DirectoryKind::Personal, 1));
        for (const QVariantList &entry : mine)
            db.add(DirectoryKind::Personal, entry);
    };
}

// Loads an edition of the sample town with `extra` more residents.
qint64 loadTown(int extra)
{
    test::TestDb town;
    test::addSampleTown(town);
    for (int i = 0; i < extra; ++i)
        town.add(DirectoryKind::Residents, {QString::number(90000 + i), u"Офисов %1"_s.arg(i), {}, {}, {}, {}, {}});
    return loadServerEditionFromDb(PgCluster::kLoader, town.path()).edition.id;
}

ino_t copyInode()
{
    struct stat st {};
    return ::stat(QFile::encodeName(seatCopyPath(PgCluster::kSeat)).constData(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

class TestOfficeSeat : public QObject {
    Q_OBJECT
    PgCluster m_cluster;
    QTemporaryDir m_cache;

private slots:
    void initTestCase()
    {
        KORVANA_START_CLUSTER(m_cluster);
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache.path()));
    }

    // The first start fetches; a new edition is offered while running; No keeps the copy, Yes takes it.
    void seatFollowsTheServer()
    {
        QVERIFY(loadTown(1));
        AppFixture f(seatSettings());
        QCOMPARE(f.messages.texts(), QStringList());
        QCOMPARE(f.app->store()->path(), seatCopyPath(PgCluster::kSeat));
        const QString first = f.count();
        QTRY_VERIFY_WITH_TIMEOUT(f.app->seat()->watch()->isConnected(), 10000);

        f.messages.answerNext(MessageAnswer::No);
        const qint64 declined = loadTown(2);
        QTRY_COMPARE_WITH_TIMEOUT(f.messages.count(), 1, 10000);
        QVERIFY2(f.messages.texts().at(0).startsWith(u"Найден новый справочник: издание %1 на сервере «office»."_s.arg(declined)),
                 qPrintable(f.messages.texts().at(0)));
        QCOMPARE(f.count(), first);
        QVERIFY(copiedEdition(seatCopyPath(PgCluster::kSeat)) != declined);

        const qint64 taken = loadTown(3); // answered Yes
        QTRY_VERIFY_WITH_TIMEOUT(f.messages.count() == 2 && f.count() != first, 10000);
        QCOMPARE(copiedEdition(seatCopyPath(PgCluster::kSeat)), taken);

        // Started again with nothing new: no question, no fetch (a fetch renames a new file in).
        const ino_t before = copyInode();
        f.restart();
        QCOMPARE(f.messages.count(), 2);
        QCOMPARE(copyInode(), before);
    }

    // Another seat's «Мой» changes reach the tab without a keystroke; the
    // row being edited is left alone, and its save then shows the other
    // seat's row and names what was typed.
    void personalIsLive()
    {
        AppFixture f(seatSettings());
        QTRY_VERIFY_WITH_TIMEOUT(f.app->seat()->watch()->isConnected(), 10000);
        f.app->window()->searchPanel().tabs->setCurrentIndex(2); // «Мой»
        RecordSource *mine = f.app->source(DirectoryKind::Personal);
        PersonalModel *model = f.app->personalModel();
        const int before = mine->recordCount();
        PgConnection other;
        QVERIFY(other.open(PgCluster::kSeat));
        QVERIFY(other.run(u"INSERT INTO korvana.note (n_tel, family) VALUES ('900', 'Соседний пост')"_s));
        QTRY_COMPARE_WITH_TIMEOUT(mine->recordCount(), before + 1, 1000);
        QCOMPARE(f.count(), u"из %1"_s.arg(before + 1));
        const auto familyOf900 = [&] {
            for (int r = 0; r < mine->recordCount(); ++r)
                if (mine->value(r, 0).toString() == u"900"_s)
                    return std::pair{r, model->data(model->index(r, 1)).toString()};
            return std::pair{-1, QString()};
        };

        QVERIFY(model->setData(model->index(familyOf900().first, 1), u"Мой пост"_s));
        QSignalSpy notices(f.app->seat()->watch(), &EditionWatch::notesChanged);
        QVERIFY(other.run(u"UPDATE korvana.note SET family = 'Их пост' WHERE n_tel = '900'"_s));
        QTRY_VERIFY_WITH_TIMEOUT(!notices.isEmpty(), 1000);
        QCoreApplication::processEvents();
        QVERIFY(model->hasPendingRow());
        QCOMPARE(familyOf900().second, u"Мой пост"_s);

        QVERIFY(!model->submitPending());
        QCOMPARE(f.messages.count(), 1);
        const QString text = f.messages.texts().at(0);
        QVERIFY2(text.contains(u"изменена на другом рабочем месте"_s) && text.contains(u"Мой пост"_s), qPrintable(text));
        QCOMPARE(familyOf900().second, u"Их пост"_s);
    }

    // A seat that kept «Мой» in its own kadu.db is asked once, when the
    // server is reached, to add those entries to its list there ([Server]
    // Personal=own here: the role's own list). Yes adds what the list lacks;
    // No is remembered too.
    void localPersonalOfferedOnce()
    {
        PgConnection super;
        QVERIFY(super.open(PgCluster::kSuper) && super.run(u"DELETE FROM korvana.note"_s));
        QVERIFY(super.run(u"INSERT INTO korvana.note (n_tel, family, own, owner) VALUES ('03', 'Скорая', true, 'korvana_seat')"_s));
        const auto ownNumbers = [&] {
            const PgResult r = super.exec(u"SELECT n_tel FROM korvana.note WHERE own AND owner = 'korvana_seat' ORDER BY n_tel"_s);
            QStringList out;
            for (int i = 0; i < r.rows(); ++i)
                out << r.text(i, 0);
            return out;
        };
        AppFixture f(seatSettings("office", "Personal=own\n",
                                  {{u"03"_s, u"Скорая"_s, {}, {}, {}, {}, {}}, {u"05"_s, u"Газ"_s, {}, {}, {}, {}, {}}}));
        QTRY_COMPARE_WITH_TIMEOUT(f.messages.count(), 1, 10000); // answered Yes
        QVERIFY2(f.messages.texts().at(0).contains(u"записей: 2.\rДобавить их в ваш справочник «Мой» на сервере «office»?"_s),
                 qPrintable(f.messages.texts().at(0)));
        QCOMPARE(ownNumbers(), QStringList({u"03"_s, u"05"_s}));
        QCOMPARE(f.app->store()->tableRowCount(DirectoryKind::Personal), 2);

        const auto restartAndSettle = [&] {
            f.restart();
            QTRY_VERIFY_WITH_TIMEOUT(f.app->officePersonal()->notes()->isOnline(), 10000);
            QCoreApplication::processEvents();
        };
        restartAndSettle();
        QCOMPARE(f.messages.count(), 1);
        QVERIFY(super.run(u"DELETE FROM korvana.note"_s));
        f.settings->remove(u"Server/LocalPersonalOffered"_s);
        f.settings->sync();
        f.messages.answerNext(MessageAnswer::No);
        restartAndSettle();
        QCOMPARE(f.messages.count(), 2);
        QCOMPARE(ownNumbers(), QStringList());

        // A mode mistyped is told, and keeps the operator's entries to themselves.
        f.settings->setValue(u"Server/Personal"_s, u"общий"_s);
        restartAndSettle();
        QCOMPARE(f.messages.count(), 3);
        QVERIFY2(f.messages.texts().at(2).contains(u"[Server] Personal=общий: такого режима нет"_s), qPrintable(f.messages.texts().at(2)));
        QCOMPARE(f.app->officePersonal()->notes()->mode(), PersonalMode::Own);
    }

    // No server at start: one message naming the service and the reason, then the last copy.
    void serverOutOfReach()
    {
        QVERIFY(QFileInfo::exists(seatCopyPath(PgCluster::kSeat)));
        QVERIFY(m_cluster.stop());
        {
            AppFixture f(seatSettings());
            QCOMPARE(f.messages.count(), 1);
            const QString text = f.messages.texts().at(0);
            QVERIFY2(text.startsWith(u"Нет связи с сервером справочника «office»:\r"_s) && text.contains(u"sock"_s)
                         && text.contains(u"Открыт справочник, полученный"_s),
                     qPrintable(text));
            QCOMPARE(f.count(), u"из %1"_s.arg(f.app->store()->tableRowCount(DirectoryKind::Residents)));
            // «Мой» shows its last rows and takes no edits until the server is back.
            QLabel *status = f.app->window()->dialPanel().status;
            DirectoryGrid *grid = f.app->window()->grid(DirectoryKind::Personal);
            QCOMPARE(status->text(), u"Нет связи с сервером"_s);
            QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
            QVERIFY2(m_cluster.restart(), qPrintable(m_cluster.error()));
            QTRY_VERIFY_WITH_TIMEOUT(f.app->seat()->watch()->isConnected() && status->text().isEmpty(), 15000);
            QVERIFY(grid->editTriggers() != QAbstractItemView::NoEditTriggers);
        }
        // A service nobody defined, and no copy yet: what the administrator must do.
        AppFixture f(seatSettings("nowhere"));
        QCOMPARE(f.messages.count(), 1);
        const QString text = f.messages.texts().at(0);
        QVERIFY2(text.contains(u"«nowhere»"_s) && text.contains(u"korvana-import --server"_s)
                     && text.contains(u"службу [nowhere] в pg_service.conf"_s),
                 qPrintable(text));
        QVERIFY(!f.app->store());
    }
};

QTEST_MAIN(TestOfficeSeat)
#include "tst_officeseat.moc"
