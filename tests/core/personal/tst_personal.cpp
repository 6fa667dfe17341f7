// Copying public entries into the personal directory and editing it in place,
// on a real directory file.
#include "core/personal/personalcopy.h"
#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "core/search/searchquery.h"
#include "accessfixtures.h"
#include "testdb.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace korvana;
using korvana::test::TestDb;
using Result = korvana::PersonalCopy::Result;

namespace {

void search(RecordSource &rs, const QString &number, int sortField = 1)
{
    rs.setQuery(buildSearchQuery({number, "", "", "", ""}, rs.kind(), SortField(sortField), rs.kind()));
    rs.refresh();
}

const QString kAmbulance = QStringLiteral("1 '03''Скорая помощь'NULLNULLNULLNULLNULL");

} // namespace

class TestPersonal : public QObject {
    Q_OBJECT
    std::unique_ptr<TestDb> db;
    std::unique_ptr<RecordSource> residents, enterprises, personal;

    QStringList rows() const { return test::personalRows(db->path()); }

private Q_SLOTS:
    void init()
    {
        db = std::make_unique<TestDb>();
        test::addSampleTown(*db);
        residents = std::make_unique<RecordSource>(DirectoryKind::Residents);
        enterprises = std::make_unique<RecordSource>(DirectoryKind::Enterprises);
        personal = std::make_unique<RecordSource>(DirectoryKind::Personal);
        for (RecordSource *rs : {residents.get(), enterprises.get(), personal.get()})
            rs->setStore(db->store.get());
    }

    // The question shows the entry as it is; the copy keeps its values untrimmed
    // (NULL a blank) but the enterprise's name and remark. A decline or a refused
    // write stores nothing, and the source stays on the entry it was on.
    void copyKeepsValuesTrimsEnterpriseAndStaysPut_data()
    {
        QTest::addColumn<bool>("enterprise");
        QTest::addColumn<QString>("number"); // searched for
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("stored"); // empty: nothing
        const int stored = int(Result::Stored);
        const QString elkina = QStringLiteral("Вставить  <31207  Ёлкина А.Б.>  в МОЙ справочник?");
        QTest::newRow("resident") << false << "31207" << 0 << stored << elkina
                                  << "2 '31207''Ёлкина А.Б.''Ёлочная'' 12'' ''5 '' '";
        QTest::newRow("enterprise, remark trimmed, last row")
            << true << "2230" << 1 << stored << "Вставить  <22304  Школа №3>  в МОЙ справочник?"
            << "2 '22304''Школа №3, директор''Садовая''15'' '' '' '";
        QTest::newRow("enterprise without remark") << true << "34212" << 0 << stored
                                                   << "Вставить  <34212  аптека №12>  в МОЙ справочник?"
                                                   << "2 '34212''аптека №12, ''Лесная''21''а'' '' '";
        QTest::newRow("no resident found") << false << "0000" << -1 << stored << ""
                                           << "2 ' '' '' '' '' '' '' '";
        QTest::newRow("no enterprise found") << true << "0000" << -1 << stored << "Вставить  <    >  в МОЙ справочник?"
                                             << "2 ' '', '' '' '' '' '' '";
        QTest::newRow("declined") << false << "31207" << 0 << int(Result::Declined) << elkina << "";
        QTest::newRow("write refused") << false << "31207" << 0 << int(Result::Refused) << elkina << "";
    }
    void copyKeepsValuesTrimsEnterpriseAndStaysPut()
    {
        QFETCH(bool, enterprise);
        QFETCH(QString, number);
        QFETCH(int, position);
        QFETCH(int, result);
        QFETCH(QString, stored);
        RecordSource &from = enterprise ? *enterprises : *residents;
        search(from, number);
        if (position > 0)
            from.moveTo(position);
        QCOMPARE(from.absolutePosition(), position);
        if (result == int(Result::Refused)) // as a read-only or locked file does
            QVERIFY(db->store->exec(QStringLiteral("PRAGMA query_only = ON")));
        QSignalSpy moved(&from, &RecordSource::repositioned);
        QString asked = QStringLiteral("not asked");
        const Result answer = PersonalCopy::copy(from, *personal, [&](const QString &p) {
            asked = p;
            return result != int(Result::Declined);
        });
        QCOMPARE(int(answer), result);
        QTEST(asked, "prompt");
        QCOMPARE(from.absolutePosition(), position);
        if (result == int(Result::Declined))
            QCOMPARE(moved.count(), 0);
        db->reopen();
        QCOMPARE(rows(), stored.isEmpty() ? QStringList{kAmbulance} : (QStringList{kAmbulance, stored}));
    }

    // A new entry typed into the last row is written by the search that
    // counts the list, and counted; Escape abandons a half-typed one; a
    // change is written when its row is left, a delete at once.
    void searchCountsTheEntryItStores()
    {
        PersonalModel model(personal.get());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        search(*personal, QString(), 2);
        QCOMPARE(model.rowCount(), 2); // one entry and the new row
        personal->moveTo(1); // the grid chose the new row: no current record
        QVERIFY(model.setData(model.index(1, 0), QStringLiteral("77777")));
        QVERIFY(model.setData(model.index(1, 1), QStringLiteral("Антонов А.А.")));
        QCOMPARE(rows().size(), 1);
        QCOMPARE(model.data(model.index(1, 4)).toString(), PersonalModel::newRowDefault());
        search(*personal, QString(), 1);
        QCOMPARE(personal->recordCount(), 2);
        QCOMPARE(model.rowCount(), 3);
        QVERIFY(!model.hasPendingRow());
        QCOMPARE(model.data(model.index(1, 1)).toString(), QStringLiteral("Антонов А.А."));
        QCOMPARE(rows(), (QStringList{kAmbulance, "2 '77777''Антонов А.А.'NULLNULL'\"  \"'NULLNULL"}));

        personal->moveTo(2);
        model.setData(model.index(2, 1), QStringLiteral("Полу"));
        model.revertPending();
        QCOMPARE(model.data(model.index(2, 1)).toString(), QString());
        search(*personal, QString(), 2);
        QCOMPARE(rows().size(), 2);

        personal->moveTo(1);
        model.setData(model.index(1, 2), QStringLiteral("Садовая"));
        personal->moveTo(0);
        QVERIFY(model.removeEntry(0));
        QCOMPARE(rows(), QStringList{"1 '03''Скорая помощь''Садовая'NULLNULLNULLNULL"});
    }

    // A changed entry of a list of several pages sorts elsewhere: every row
    // is still shown once, in the new order.
    void changeInALongListShowsEveryEntryOnce()
    {
        QStringList expected{QStringLiteral("03")};
        for (int i = 0; i < 99; ++i) {
            const QString number = QString::number(10000 + i);
            db->add(DirectoryKind::Personal, {number, QStringLiteral("Абонент %1").arg(i), {}, {}, {}, {}, {}});
            expected << number;
        }
        PersonalModel model(personal.get());
        search(*personal, QString(), 1);
        QCOMPARE(personal->recordCount(), 100);
        for (int r = 0; r < personal->pageSize(); ++r) // the first page on screen
            QCOMPARE(model.data(model.index(r, 0)).toString(), expected.at(r));
        QVERIFY(model.setData(model.index(4, 0), QStringLiteral("99999")));
        QVERIFY(model.submitPending());
        expected.removeAt(4);
        expected << QStringLiteral("99999");
        QStringList shown;
        for (int r = 0; r < personal->recordCount(); ++r)
            shown << model.data(model.index(r, 0)).toString();
        QCOMPARE(shown, expected);
    }

    // A refused write, of a new row or of a change, is reported with the
    // store's reason (not the "not an error" left once it is rolled back)
    // and keeps the row as typed, on its entry through a search, until it
    // is written or abandoned with Escape.
    void refusedEditStaysAsTyped_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<int>("row");     // with the list sorted by name
        QTest::addColumn<bool>("abandon");
        QTest::newRow("new row, stored later") << "INSERT" << 2 << false;
        QTest::newRow("change, abandoned") << "UPDATE" << 1 << true;
        QTest::newRow("change, stored later") << "UPDATE" << 1 << false;
    }
    void refusedEditStaysAsTyped()
    {
        QFETCH(QString, statement);
        QFETCH(int, row);
        QFETCH(bool, abandon);
        db->add(DirectoryKind::Personal, {"01", "Антонов", {}, {}, {}, {}, {}});
        const QStringList before = rows();
        PersonalModel model(personal.get());
        search(*personal, QString(), 2);
        QSignalSpy failed(&model, &PersonalModel::writeFailed);
        QVERIFY(db->store->exec(QStringLiteral("CREATE TRIGGER refuse BEFORE %1 ON Note "
                                               "BEGIN SELECT RAISE(ABORT, 'refused'); END").arg(statement)));
        model.setData(model.index(row, 1), QStringLiteral("Новый"));
        QVERIFY(!model.submitPending());
        QCOMPARE(failed.count(), 1);
        QVERIFY2(failed.first().first().toString().contains(QLatin1String("refused")),
                 qPrintable(failed.first().first().toString()));
        QCOMPARE(model.pendingRow(), row);

        // The search tries it once more; the row is the same entry, or the
        // new row, in the shorter list.
        search(*personal, QStringLiteral("03"), 2);
        QCOMPARE(failed.count(), 2);
        QCOMPARE(model.pendingRow(), row - 1);
        QCOMPARE(model.data(model.index(row - 1, 1)).toString(), QStringLiteral("Новый"));
        QCOMPARE(model.data(model.index(row - 1, 0)).toString(), row == 2 ? QString() : "03");
        QCOMPARE(rows(), before);

        QVERIFY(db->store->exec(QStringLiteral("DROP TRIGGER refuse")));
        if (abandon)
            model.revertPending();
        QVERIFY(model.submitPending());
        QCOMPARE(failed.count(), 2);
        QVERIFY(!model.hasPendingRow());
        const QStringList after = rows();
        QCOMPARE(after.size(), before.size() + (row == 2 ? 1 : 0));
        QCOMPARE(after.join(' ').contains(QStringLiteral("'Новый'")), !abandon);
    }
};

QTEST_GUILESS_MAIN(TestPersonal)
#include "tst_personal.moc"
