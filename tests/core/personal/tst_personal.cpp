// Copying public entries into the personal directory and editing it in place,
// on a real directory file.
#include "core/personal/personalcopy.h"
#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "core/search/searchquery.h"
#include "testdb.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace korvana;
using korvana::test::TestDb;

namespace {

QList<QStringList> noteRows(Store &store)
{
    QList<QStringList> rows;
    Statement s(store.handle(),
                QStringLiteral("SELECT N_tel, Family, Street, Dom, Dom1, Kvart, Kvart1 FROM Note "
                               "ORDER BY rowid"));
    while (s.step() == 100 /* SQLITE_ROW */) {
        QStringList r;
        for (int c = 0; c < 7; ++c)
            r << (s.column(c).isNull() ? QStringLiteral("<null>") : s.column(c).toString());
        rows << r;
    }
    return rows;
}

void search(RecordSource &rs, const SearchCriteria &c, int sortField = 1)
{
    rs.setQuery(buildSearchQuery(c, rs.kind(), SortField(sortField), rs.kind()));
    rs.refresh();
}

} // namespace

class TestPersonal : public QObject {
    Q_OBJECT
    std::unique_ptr<TestDb> db;
    std::unique_ptr<RecordSource> residents, enterprises, personal;

    // Copies the current entry, answering the question; returns the question.
    QString copy(RecordSource &from, bool yes = true,
                 PersonalCopy::Result expected = PersonalCopy::Result::Stored)
    {
        QString asked = QStringLiteral("not asked");
        const auto result = PersonalCopy::copy(from, *personal, [&](const QString &p) {
            asked = p;
            return yes;
        });
        if (result != expected)
            qWarning("copy gave %d", int(result));
        return result == expected ? asked : QStringLiteral("unexpected result");
    }

    void open()
    {
        for (RecordSource *rs : {residents.get(), enterprises.get(), personal.get()})
            rs->setStore(db->store.get());
    }

private Q_SLOTS:
    void init()
    {
        db = std::make_unique<TestDb>();
        test::addSampleTown(*db);
        residents = std::make_unique<RecordSource>(DirectoryKind::Residents);
        enterprises = std::make_unique<RecordSource>(DirectoryKind::Enterprises);
        personal = std::make_unique<RecordSource>(DirectoryKind::Personal);
        open();
    }

    void copyResidentAsIs()
    {
        search(*residents, {"31207", "", "", "", ""});
        QCOMPARE(copy(*residents), QStringLiteral("Вставить  <31207  Ёлкина А.Б.>  в МОЙ справочник?"));
        db->reopen();
        // Untrimmed values; NULL fields become a single blank.
        QCOMPARE(noteRows(*db->store).last(),
                 QStringList({"31207", "Ёлкина А.Б.", "Ёлочная", " 12", " ", "5 ", " "}));
    }

    void copyEnterpriseJoinsNameAndRemark()
    {
        search(*enterprises, {"2230", "", "", "", ""});
        residents->setQuery({});
        enterprises->moveTo(1); // Школа №3 with "  директор  "
        QCOMPARE(copy(*enterprises), QStringLiteral("Вставить  <22304  Школа №3>  в МОЙ справочник?"));
        search(*enterprises, {"34212", "", "", "", ""}); // no remark
        copy(*enterprises);
        const auto rows = noteRows(*db->store);
        QCOMPARE(rows.at(rows.size() - 2).at(1), QStringLiteral("Школа №3, директор"));
        QCOMPARE(rows.last().at(1), QStringLiteral("аптека №12, "));
        QCOMPARE(rows.last().at(4), QStringLiteral("а"));
    }

    void emptyResults()
    {
        search(*residents, {"0000", "", "", "", ""});
        QCOMPARE(copy(*residents), QString());
        QCOMPARE(noteRows(*db->store).last(), QStringList(7, QStringLiteral(" ")));

        search(*enterprises, {"0000", "", "", "", ""});
        QCOMPARE(copy(*enterprises), QStringLiteral("Вставить  <    >  в МОЙ справочник?"));
        QCOMPARE(noteRows(*db->store).last().at(1), QStringLiteral(", "));
    }

    void declineAndRepeat()
    {
        search(*residents, {"2", "", "", "", ""});
        residents->moveLast();
        const int last = residents->absolutePosition();
        QSignalSpy moved(residents.get(), &RecordSource::repositioned);
        QVERIFY(!copy(*residents, false, PersonalCopy::Result::Declined).isEmpty());
        QCOMPARE(moved.count(), 0);
        QCOMPARE(noteRows(*db->store).size(), 1);

        // The last row stays current after a copy, and copying twice gives two rows.
        for (int i = 0; i < 2; ++i)
            copy(*residents);
        QCOMPARE(residents->absolutePosition(), last);
        QCOMPARE(moved.count(), 4);
        const auto rows = noteRows(*db->store);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.at(1), rows.at(2));
    }

    void refusedWriteLeavesTheFileIntact()
    {
        // The store refuses every write, as a read-only or locked file does.
        QVERIFY(db->store->exec(QStringLiteral("PRAGMA query_only = ON")));
        QFile f(db->path());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray before = f.readAll();
        f.close();
        search(*residents, {"2", "", "", "", ""});
        QVERIFY(copy(*residents, true, PersonalCopy::Result::Refused).startsWith(QStringLiteral("Вставить")));
        QCOMPARE(residents->absolutePosition(), 0);
        db->store.reset();
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }

    void editAddDeleteInTheGrid()
    {
        PersonalModel model(personal.get());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        search(*personal, {}, 2);
        QCOMPARE(model.rowCount(), 2); // one entry and the new row

        // Typing into the new row writes nothing until the row is left.
        personal->moveTo(1); // the grid chose the new row: no current record
        QVERIFY(model.setData(model.index(1, 0), QStringLiteral("77777")));
        QVERIFY(model.setData(model.index(1, 1), QStringLiteral("Антонов А.А.")));
        QCOMPARE(noteRows(*db->store).size(), 1);
        QCOMPARE(model.data(model.index(1, 4)).toString(), PersonalModel::newRowDefault());
        personal->moveTo(0);
        QCOMPARE(noteRows(*db->store).size(), 2);
        QCOMPARE(noteRows(*db->store).last(),
                 QStringList({"77777", "Антонов А.А.", "<null>", "<null>", "\"  \"", "<null>",
                              "<null>"}));
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("Антонов А.А."));

        // Escape abandons a half-typed new row: it disappears, nothing is stored.
        personal->moveTo(2);
        model.setData(model.index(2, 1), QStringLiteral("Полу"));
        model.revertPending();
        QCOMPARE(model.data(model.index(2, 1)).toString(), QString());
        search(*personal, {}, 2);
        QCOMPARE(noteRows(*db->store).size(), 2);

        // A change is written when the row is left, a delete at once.
        personal->moveTo(1);
        model.setData(model.index(1, 2), QStringLiteral("Садовая"));
        personal->moveTo(0);
        QVERIFY(model.removeEntry(0));
        db->reopen();
        open();
        QCOMPARE(noteRows(*db->store),
                 QList<QStringList>({{"03", "Скорая помощь", "Садовая", "<null>", "<null>",
                                      "<null>", "<null>"}}));
    }

    void refusedEditIsReported()
    {
        PersonalModel model(personal.get());
        search(*personal, {}, 2);
        QSignalSpy failed(&model, &PersonalModel::writeFailed);
        db->store->exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON Note "
                                       "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        model.setData(model.index(1, 1), QStringLiteral("Новый"));
        QVERIFY(!model.submitPending());
        QCOMPARE(failed.count(), 1);
        QVERIFY(!model.hasPendingRow());
        QCOMPARE(noteRows(*db->store).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestPersonal)
#include "tst_personal.moc"
