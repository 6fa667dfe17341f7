// Start-up and shut-down of the real window: lists, side files, placement,
// column widths, new editions and first opens, with real files in a temporary folder.
#include "accessfixtures.h"
#include "appfixture.h"
#include "core/import/mdbimport.h"
#include "core/search/recordsource.h"
#include "core/window/twips.h"
#include "gui/app/importdialog.h"
#include "gui/app/upgradedialog.h"
#include "gui/window/mainwindow.h"
#include "testfiles.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QProgressDialog>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>

#include <sqlite3.h>

using namespace korvana;
using korvana::test::AppFixture;
using korvana::test::TestDb;

namespace {

QStringList items(const QComboBox *box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

int px(double twips) { return twipsToPixels(twips, 96); }

// Hands the progress dialog to `seen` once one shows: the timer fires
// inside the dialog's own event processing.
void onProgressDialog(const std::function<void(QProgressDialog &)> &seen)
{
    QTimer::singleShot(0, [seen] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *dialog = qobject_cast<QProgressDialog *>(w); dialog && dialog->isVisible())
                seen(*dialog);
    });
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void dialPanelFollowsMyNumbersFile_data()
    {
        QTest::addColumn<QByteArray>("file"); // empty: none
        QTest::addColumn<QString>("exchange");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QStringList>("own");
        QTest::addColumn<bool>("modem");
        QTest::newRow("no file") << QByteArray() << "DaziVIRe" << "Com1" << QStringList() << true;
        QTest::newRow("modem on Com3") << ("1\r\n3 word\r\n20100 Mama\r\n\r\n" + QStringLiteral("30200 Бабушка").toUtf8())
                                       << "УкрТелеком" << "Com3" << QStringList{"20100 Mama", "", "30200 Бабушка"} << true;
        QTest::newRow("no modem") << QByteArray("1\r\n0\r\n") << "УкрТелеком" << "Com1" << QStringList() << false;
    }

    void dialPanelFollowsMyNumbersFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, modem);
        AppFixture f(file.isEmpty() ? std::function<void(TestDb &)>{} : test::withFile(QStringLiteral("kadumy.txt"), file));
        QTEST(f.control<QComboBox>("cboPort")->currentText(), "port");
        QTEST(f.control<QComboBox>("ATC")->currentText(), "exchange");
        QFETCH(QStringList, own);
        QCOMPARE(items(f.control<QComboBox>("Commy")), AppController::builtInNumbers() + own);
        QCOMPARE(f.control<QWidget>("Frame2")->isVisible(), modem);
        QCOMPARE(f.control<QWidget>("Frame3")->isVisible(), modem);
        QVERIFY(f.control<QWidget>("DBGrid1")->isVisible());
    }

    void widthsAndPlacementSurviveARestart()
    {
        AppFixture f;
        // 1000, 1000, 9970 x 6990 twips at 96 dots per inch.
        QCOMPARE(f.app->window()->frameGeometry(), QRect(67, 67, 665, 466));
        // Default widths scaled to the window: 2800 twips at a scale of 9975/8000.
        QCOMPARE(f.control<QTableView>("DBGrid1")->columnWidth(1), px(2800 * (1 + 1975.0 / 8000)));
        auto *header = f.control<QTableView>("DBGrid1")->horizontalHeader();
        header->resizeSection(2, 300); // the user drags the street column
        f.app->window()->move(120, 90);
        f.app->window()->resize(QSize(700, 500) - (f.app->window()->frameGeometry().size() - f.app->window()->size()));
        QCOMPARE(f.control<QTableView>("DBGrid3")->columnWidth(2), px(2400 * (1 + 2500.0 / 8000)));
        f.restart();
        QCOMPARE(f.app->window()->frameGeometry(), QRect(120, 90, 700, 500));
        // Stored divided by the scale of the old width, whole twips only,
        // shown at the scale of the new one.
        QCOMPARE(f.control<QTableView>("DBGrid1")->columnWidth(2),
                 px(std::floor(4500 / (1 + 1975.0 / 8000)) * (1 + 2500.0 / 8000)));
        // Each grid keeps its own row of widths.
        QCOMPARE(f.control<QTableView>("DBGrid3")->columnWidth(2), px(2400 * (1 + 2500.0 / 8000)));
        // The window's outer width, which the next start scales by.
        QCOMPARE(test::readBytes(f.db.dir.filePath("WGridCol.txt")).split('\n').at(22), QByteArray("10500\r"));
    }

    void progressDialogImportsAndCancels()
    {
        QTemporaryDir dir;
        const QString mdb = QStringLiteral(KORVANA_TEST_DATA "/access/kadu-jet4.mdb");
        const QString db = dir.filePath(QStringLiteral("kadu.db"));
        QString error;
        // A click on Cancel while the dialog runs.
        bool sawDialog = false;
        onProgressDialog([&](QProgressDialog &dialog) {
            sawDialog = true;
            dialog.cancel();
        });
        QVERIFY(!importAccessFileWithProgress(nullptr, mdb, db, &error));
        QVERIFY(sawDialog && !error.isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // A new kadu.mdb beside kadu.db is offered once: Yes takes it in keeping
    // «Мой», No keeps the directory, and neither the recorded edition nor a
    // declined one is offered again.
    void newEditionIsOfferedOncePerFile()
    {
        const QDateTime may12 = QDateTime(QDate(2031, 5, 12), QTime(12, 0));
        auto putMdb = [](TestDb &db, const QString &fixture, const QDateTime &time) {
            const QString mdb = db.dir.filePath(QStringLiteral("kadu.mdb"));
            test::copyAccessFixture(fixture, mdb);
            QFile file(mdb);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime));
        };
        AppFixture f([&](TestDb &db) {
            db.store.reset();
            QFile::remove(db.path());
            QVERIFY(importAccessFile(test::accessFixture(QStringLiteral("cp1251-jet3")), db.path()).ok);
            putMdb(db, QStringLiteral("kadu-jet4"), may12);
        });
        QCOMPARE(f.messages.texts(),
                 QStringList{QStringLiteral("Найден новый справочник: файл kadu.mdb от 12.05.2031.\r"
                                            "Обновить справочники «Население» и «Предприятия»?\r"
                                            "Ваш справочник «Мой» сохранится.")});
        QCOMPARE(f.messages.last().buttons, MessageButtons::YesNo);
        QCOMPARE(f.messages.last().icon, MessageIcon::None);
        QCOMPARE(f.app->source(DirectoryKind::Residents)->recordCount(), 120);
        QCOMPARE(f.app->source(DirectoryKind::Personal)->recordCount(), 4); // the three of before and one new
        // Neither it nor the same file copied again, with a new time, is offered again.
        putMdb(f.db, QStringLiteral("kadu-jet4"), may12.addDays(1));
        f.restart();
        QCOMPARE(f.messages.count(), 1);

        // The older edition is not the recorded one: asked; No keeps the directory.
        putMdb(f.db, QStringLiteral("cp1251-jet3"), may12.addDays(-400));
        f.messages.answerNext(MessageAnswer::No);
        f.restart();
        QCOMPARE(f.messages.count(), 2);
        QCOMPARE(f.app->source(DirectoryKind::Residents)->recordCount(), 120);
        f.restart();
        QCOMPARE(f.messages.count(), 2);

        // A directory file without a record: asked only about a newer kadu.mdb.
        AppFixture made([&](TestDb &db) { putMdb(db, QStringLiteral("kadu-jet4"), QDateTime(QDate(2001, 1, 1), QTime())); });
        QCOMPARE(made.messages.count(), 0);
        putMdb(made.db, QStringLiteral("kadu-jet4"), may12);
        made.messages.answerNext(MessageAnswer::No);
        made.restart();
        QCOMPARE(made.messages.count(), 1);
        made.restart();
        QCOMPARE(made.messages.count(), 1);
        QCOMPARE(made.app->source(DirectoryKind::Residents)->recordCount(), 10);
    }

    // A directory made by hand (its three tables only) gets its search
    // columns at the first open, under a progress dialog once that takes a
    // while, and is then searched case-folded like any other.
    void plainFileOpensUnderProgress()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kadu.db"));
        QString sql = QStringLiteral("BEGIN;");
        for (DirectoryKind kind : {DirectoryKind::Residents, DirectoryKind::Enterprises, DirectoryKind::Personal})
            sql += QStringLiteral("CREATE TABLE %1 (%2 TEXT);")
                       .arg(tableInfo(kind).table, tableInfo(kind).fields.join(QStringLiteral(" TEXT, ")));
        for (int i = 0; i < 3000; ++i)
            sql += QStringLiteral("INSERT INTO NASELEN VALUES ('%1', '%2 %1', 'Садовая', ' %3', NULL, '%3', NULL);")
                       .arg(200000 + i).arg(i % 3 ? QStringLiteral("Ёлкин") : QStringLiteral("Петров")).arg(i % 40);
        sqlite3 *raw = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &raw), SQLITE_OK);
        const int made = sqlite3_exec(raw, (sql + QStringLiteral("COMMIT;")).toUtf8().constData(), nullptr, nullptr, nullptr);
        sqlite3_close(raw);
        QCOMPARE(made, SQLITE_OK);

        QString label;
        onProgressDialog([&](QProgressDialog &dialog) { label = dialog.labelText(); });
        Store::OpenStatus status = Store::OpenStatus::Failed;
        QString error;
        std::unique_ptr<Store> store = openStoreWithProgress(nullptr, path, &status, &error, 0);
        QVERIFY2(store && status == Store::OpenStatus::Ok, qPrintable(error));
        QVERIFY2(label.startsWith(QStringLiteral("Подготовка справочника")), qPrintable(label));

        RecordSource rs(DirectoryKind::Residents);
        rs.setStore(store.get());
        for (const auto &[criteria, count] : {std::pair{SearchCriteria{"", "ЕЛК", "", "", ""}, 2000},
                                              std::pair{SearchCriteria{"", "", "", "1", ""}, 825}}) {
            rs.setQuery(buildSearchQuery(criteria, DirectoryKind::Residents, SortField::Name, DirectoryKind::Residents));
            QCOMPARE(rs.refresh(), RecordSource::Outcome::Ok);
            QCOMPARE(rs.recordCount(), count);
        }
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
