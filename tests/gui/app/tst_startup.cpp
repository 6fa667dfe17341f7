// Start-up and shut-down of the real window: lists, side files, placement,
// column widths and the layout pass, with real files in a temporary folder.
#include "accessfixtures.h"
#include "appfixture.h"
#include "core/import/mdbimport.h"
#include "core/search/recordsource.h"
#include "core/window/twips.h"
#include "core/search/recordsource.h"
#include "gui/app/importdialog.h"
#include "gui/app/upgradedialog.h"
#include "gui/search/searchcontroller.h"
#include "gui/window/controls.h"
#include "gui/window/mainwindow.h"

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

void writeFile(TestDb &db, const QString &name, const QByteArray &bytes)
{
    QFile f(db.dir.filePath(name));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList items(const QComboBox *box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

int px(double twips) { return twipsToPixels(twips, 96); }

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void defaultsWithoutSideFiles()
    {
        AppFixture f;
        auto *port = f.control<QComboBox>("cboPort");
        QCOMPARE(port->count(), 16);
        QCOMPARE(port->itemText(15), QStringLiteral("Com16"));
        QCOMPARE(port->currentIndex(), 0);
        QCOMPARE(f.control<QComboBox>("ATC")->currentText(), QStringLiteral("DaziVIRe"));
        QCOMPARE(items(f.control<QComboBox>("Commy")), AppController::builtInNumbers());
        QVERIFY(f.control<QWidget>("Frame2")->isVisible());
        // 1000, 1000, 9970 x 6990 twips at 96 dots per inch.
        QCOMPARE(f.app->window()->frameGeometry(), QRect(67, 67, 665, 466));
        // Default widths scaled to the window: 2800 twips at a scale of 9975/8000.
        QCOMPARE(f.control<QTableView>("DBGrid1")->columnWidth(1), px(2800 * (1 + 1975.0 / 8000)));
        QCOMPARE(f.control<QTableView>("DBGrid2")->columnWidth(0), px(3150 * (1 + 1975.0 / 8000)));
    }

    void myNumbersFile()
    {
        AppFixture f([](TestDb &db) {
            writeFile(db, QStringLiteral("kadumy.txt"),
                      "1\r\n3 word\r\n20100 Mama\r\n\r\n" + QStringLiteral("30200 Бабушка").toUtf8());
        });
        QCOMPARE(f.control<QComboBox>("ATC")->currentText(), QStringLiteral("УкрТелеком"));
        QCOMPARE(f.control<QComboBox>("cboPort")->currentText(), QStringLiteral("Com3"));
        QCOMPARE(items(f.control<QComboBox>("Commy")),
                 AppController::builtInNumbers()
                     + QStringList({"20100 Mama", "", "30200 Бабушка"}));
        QVERIFY(f.control<QWidget>("Frame3")->isVisible());

        AppFixture noModem([](TestDb &db) {
            writeFile(db, QStringLiteral("kadumy.txt"), "1\r\n0\r\n");
        });
        QVERIFY(!noModem.control<QWidget>("Frame2")->isVisible());
        QVERIFY(!noModem.control<QWidget>("Frame3")->isVisible());
        QVERIFY(noModem.control<QWidget>("DBGrid1")->isVisible());
    }

    void faultyMyNumbersCostsOnlyItsItem()
    {
        // One line starting with 5: the exchange list has two entries.
        AppFixture f([](TestDb &db) { writeFile(db, QStringLiteral("kadumy.txt"), "5"); });
        QCOMPARE(f.control<QComboBox>("ATC")->currentIndex(), 0);
        QVERIFY(f.control<QWidget>("Frame2")->isVisible());
        QCOMPARE(f.app->search()->currentTab(), DirectoryKind::Residents);
        QVERIFY(f.control<QTableView>("DBGrid1")->columnWidth(1) > 100);
    }

    void widthsAndPlacementSurviveARestart()
    {
        AppFixture f;
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

        const QList<QByteArray> lines = readAll(f.db.dir.filePath("WGridCol.txt")).split('\n');
        QCOMPARE(lines.size(), 25); // 24 lines, each ended by CR LF
        QCOMPARE(lines.at(0), QByteArray("900\r"));
        QCOMPARE(lines.at(14), QByteArray("3150\r"));
        QCOMPARE(lines.at(22), QByteArray("10500\r")); // the window's outer width
        QCOMPARE(lines.at(23), QByteArray("0\r"));
        QCOMPARE(f.settings->value("Settings/MainWidth").toString(), QStringLiteral("10500"));
    }

    void minimisedCloseKeepsThePlacement()
    {
        AppFixture f;
        f.app->window()->move(200, 100);
        f.restart();
        f.app->window()->showMinimized();
        QTRY_VERIFY(f.app->window()->isMinimized());
        QFile::remove(f.db.dir.filePath("WGridCol.txt"));
        f.app->window()->close();
        QCOMPARE(f.settings->value("Settings/MainLeft").toString(), QStringLiteral("3000"));
        QVERIFY(QFile::exists(f.db.dir.filePath("WGridCol.txt")));
    }

    void placementOffEveryScreenComesBack()
    {
        AppFixture f;
        f.settings->setValue("Settings/MainLeft", "-90000");
        f.settings->setValue("Settings/MainTop", "junk");
        f.settings->sync();
        f.app->window()->hide(); // leave without storing a placement
        f.app.reset();
        f.start();
        QCOMPARE(f.app->window()->frameGeometry().topLeft(), QPoint(67, 67));
        QCOMPARE(f.app->window()->frameGeometry().size(), QSize(665, 466));
    }

    void layoutFollowsTheWindow()
    {
        AppFixture f;
        MainWindow *w = f.app->window();
        const QSize frame = w->frameGeometry().size() - w->size();
        w->resize(QSize(800, 600) - frame); // outer 12000 x 9000 twips
        QCOMPARE(w->grid(DirectoryKind::Residents)->width(), px(12000 - 340));
        QCOMPARE(w->searchPanel().tabs->height(), px(9000 - 2225));
        QCOMPARE(w->grid(DirectoryKind::Enterprises)->font().pointSize(), 12);
        QWidget *picture = f.control<QWidget>("Picture2");
        QVERIFY(picture->isVisible());
        QCOMPARE(picture->x(), px((9900 + 12000 - 2775) / 2.0));
        // Columns scale with the width: 12000 twips is 1.5 times the stored widths.
        QCOMPARE(f.control<QTableView>("DBGrid1")->columnWidth(1), px(2800 * 1.5));
        w->resize(QSize(280, 200) - frame); // below every threshold: nothing narrower than the fixed widths
        QCOMPARE(w->grid(DirectoryKind::Personal)->width(), px(4160));
        QCOMPARE(w->searchPanel().tabs->height(), px(9000 - 2225));
        QVERIFY(!picture->isVisible());
    }

    void progressDialogImportsAndCancels()
    {
        QTemporaryDir dir;
        const QString mdb = QStringLiteral(KORVANA_TEST_DATA "/access/kadu-jet4.mdb");
        const QString db = dir.filePath(QStringLiteral("kadu.db"));
        QString error;
        QStringList warnings{QStringLiteral("stale")};
        QVERIFY2(importAccessFileWithProgress(nullptr, mdb, db, &error, &warnings), qPrintable(error));
        QVERIFY(warnings.isEmpty());
        QVERIFY(QFile::remove(db));

        // A click on Cancel while the dialog runs; the timer fires inside its event processing.
        bool sawDialog = false;
        QTimer::singleShot(0, [&] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *dialog = qobject_cast<QProgressDialog *>(w); dialog && dialog->isVisible()) {
                    sawDialog = true;
                    dialog->cancel();
                }
            }
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
        f.restart();
        QCOMPARE(f.messages.count(), 1);
        // The same file copied again, with a new time, is the same edition.
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
        {
            sqlite3 *raw = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &raw), SQLITE_OK);
            QString sql = QStringLiteral("BEGIN;");
            for (DirectoryKind kind : {DirectoryKind::Residents, DirectoryKind::Enterprises, DirectoryKind::Personal})
                sql += QStringLiteral("CREATE TABLE %1 (%2 TEXT);")
                           .arg(tableInfo(kind).table, tableInfo(kind).fields.join(QStringLiteral(" TEXT, ")));
            for (int i = 0; i < 3000; ++i)
                sql += QStringLiteral("INSERT INTO NASELEN VALUES ('%1', '%2 %1', 'Садовая', ' %3', NULL, '%3', NULL);")
                           .arg(200000 + i)
                           .arg(i % 3 ? QStringLiteral("Ёлкин") : QStringLiteral("Петров"))
                           .arg(i % 40);
            QCOMPARE(sqlite3_exec(raw, (sql + QStringLiteral("COMMIT;")).toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(raw);
        }
        QString label;
        QTimer watch; // fires inside the dialog's event processing
        connect(&watch, &QTimer::timeout, [&] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *dialog = qobject_cast<QProgressDialog *>(w); dialog && dialog->isVisible())
                    label = dialog->labelText();
        });
        watch.start(0);
        Store::OpenStatus status = Store::OpenStatus::Failed;
        QString error;
        std::unique_ptr<Store> store = openStoreWithProgress(nullptr, path, &status, &error, 0);
        watch.stop();
        QVERIFY2(store && status == Store::OpenStatus::Ok, qPrintable(error));
        QVERIFY2(label.startsWith(QStringLiteral("Подготовка справочника")), qPrintable(label));
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<QProgressDialog *>(w) || !w->isVisible());

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
