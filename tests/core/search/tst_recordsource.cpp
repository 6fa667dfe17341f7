// Searching a real directory file through record sources and the grid model.
#include "core/search/directorymodel.h"
#include "core/search/globmatch.h"
#include "core/search/recordsource.h"
#include "core/search/searchimages.h"
#include "core/search/searchquery.h"
#include "core/store/textfold.h"
#include "testdb.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <sqlite3.h>

using namespace korvana;
using korvana::test::TestDb;

namespace {

QStringList names(RecordSource &rs, int column = 1)
{
    QStringList out;
    for (int r = 0; r < rs.recordCount(); ++r)
        out << rs.value(r, column).toString();
    return out;
}

// sortField as the window numbers its fields: 1 number .. 5 flat.
RecordSource::Outcome search(RecordSource &rs, const SearchCriteria &c, int sortField = 1)
{
    rs.setQuery(buildSearchQuery(c, rs.kind(), SortField(sortField), rs.kind()));
    return rs.refresh();
}

// The rows a plain scan of the folded columns finds, in the query's order.
QList<qint64> scan(Store &store, const SearchCriteria &c, int sort, int tab = 1)
{
    const SearchQuery q = buildSearchQuery(c, kindForTab(tab), SortField(sort), kindForTab(tab));
    Statement all(store.handle(), QStringLiteral("SELECT rowid FROM %1 NOT INDEXED%2 ORDER BY %3")
                                      .arg(tableInfo(q.kind).table, q.where,
                                           q.orderColumns.join(QStringLiteral(", "))));
    for (int i = 0; i < q.parameters.size(); ++i)
        all.bindText(i + 1, q.parameters.at(i));
    QList<qint64> ids;
    while (all.step() == SQLITE_ROW)
        ids << all.columnInt64(0);
    return ids;
}

// Every row of a search's result, in order.
QList<qint64> found(RecordSource &rs, const SearchCriteria &c, int sort)
{
    search(rs, c, sort);
    QList<qint64> ids;
    for (int r = 0; r < rs.recordCount(); ++r)
        ids << rs.rowId(r);
    return ids;
}

} // namespace

class TestRecordSource : public QObject {
    Q_OBJECT
    TestDb db;
    RecordSource residents{DirectoryKind::Residents};
    RecordSource enterprises{DirectoryKind::Enterprises};

private Q_SLOTS:
    void initTestCase()
    {
        test::addSampleTown(db);
        residents.setStore(db.store.get());
        enterprises.setStore(db.store.get());
    }

    void caseInsensitiveCyrillic()
    {
        QCOMPARE(search(residents, {"", "петр", "", "", ""}, 2), RecordSource::Outcome::Ok);
        QCOMPARE(names(residents),
                 QStringList({"Петров П.П.", "петров п.п.", "ПЕТРОВА Н.Н."}));
        search(residents, {"", "ЕЛ", "", "", ""}, 2);
        // ё and е are one letter, both ways round.
        QCOMPARE(names(residents), QStringList({"Елисеев Е.Е.", "Ёлкина А.Б."}));
        search(residents, {"", "", "ёлоч", "", ""}, 2);
        QCOMPARE(names(residents), QStringList({"Ёлкина А.Б."}));
        search(residents, {"", "їж", "", "", ""}, 2);
        QCOMPARE(residents.recordCount(), 1);
    }

    void wildcardsAndLiterals()
    {
        search(residents, {"", "тест_", "", "", ""}, 2);
        QCOMPARE(names(residents), QStringList({"Тест_100%"})); // "_" is not a wildcard
        search(residents, {"", "тест?1", "", "", ""}, 2);
        QCOMPARE(names(residents), QStringList({"Тест_100%", "ТестX100X"}));
        search(residents, {"", "*100%", "", "", ""}, 2);
        QCOMPARE(names(residents), QStringList({"Тест_100%"}));
        search(residents, {"2*0", "", "", "", ""}, 1);
        QCOMPARE(residents.value(0, 0).toString(), QStringLiteral("2300"));
        QCOMPARE(residents.recordCount(), 4); // 2300, 23100, 24407, 24408
        search(residents, {"", "", "лес", "", ""}, 3);
        QCOMPARE(names(residents, 2), QStringList({"Лесная", "Лесопарковая"}));
    }

    void houseAndFlatArePrefixesOfTrimmedValues()
    {
        search(residents, {"", "", "", "1", ""}, 4);
        // Sorted by the stored text: " 12" (blank first), then 1, 10, 100, 12, 15, 19.
        QCOMPARE(names(residents, 3), QStringList({" 12", "1", "10", "100", "12", "15", "19"}));
        search(residents, {"", "", "", "12", "5"}, 4);
        QCOMPARE(residents.recordCount(), 2);
        search(residents, {"", "", "", "", "2"}, 5);
        QCOMPARE(names(residents, 5), QStringList({"2", "20", "21"}));
        // A wildcard typed into the house field is just a character.
        search(residents, {"", "", "", "1*", ""}, 4);
        QCOMPARE(residents.recordCount(), 0);
    }

    void enterprisesSortByNameThenRemark()
    {
        QCOMPARE(search(enterprises, {"", "шк", "", "", ""}, 2), RecordSource::Outcome::Ok);
        // The remark with blanks sorts before the lettered one.
        QCOMPARE(names(enterprises, 2), QStringList({"  директор  ", "бухгалтерия"}));
        search(enterprises, {"", "АПТЕКА", "", "", ""}, 2);
        QCOMPARE(names(enterprises, 0), QStringList({"аптека №12", "Аптека №5"}));
    }

    void malformedQueryKeepsTheLastResult()
    {
        search(residents, {"", "петр", "", "", ""}, 2);
        QSignalSpy moved(&residents, &RecordSource::repositioned);
        QCOMPARE(search(residents, {"", "Д'А", "", "", ""}, 2), RecordSource::Outcome::Malformed);
        QCOMPARE(residents.recordCount(), 3);
        QCOMPARE(moved.count(), 0);
        // The table is intact, and the apostrophe row is found by a neighbour.
        search(residents, {"", "Д", "", "", ""}, 2);
        QCOMPARE(names(residents), QStringList({"Д'Артаньян Ш."}));
    }

    void positions()
    {
        QSignalSpy moved(&residents, &RecordSource::repositioned);
        search(residents, {"9", "", "", "", ""});
        QCOMPARE(moved.count(), 1);
        QCOMPARE(residents.recordCount(), 2);
        QCOMPARE(residents.absolutePosition(), 0);
        QCOMPARE(residents.fieldValue(QStringLiteral("n_tel")).toString(), QStringLiteral("93020"));
        residents.moveNext();
        QCOMPARE(residents.absolutePosition(), 1);
        residents.moveNext(); // past the end: no current record
        QCOMPARE(residents.absolutePosition(), -1);
        QVERIFY(residents.fieldValue(QStringLiteral("Family")).isNull());
        residents.movePrevious(); // back on the last one
        QCOMPARE(residents.absolutePosition(), 1);
        QCOMPARE(moved.count(), 4);

        search(residents, {"0000", "", "", "", ""});
        QCOMPARE(residents.recordCount(), 0);
        QCOMPARE(residents.absolutePosition(), -1);
        QVERIFY(residents.fieldValue(QStringLiteral("N_tel")).isNull());
        residents.moveNext();
        QCOMPARE(residents.absolutePosition(), -1);
    }

    void modelFollowsTheSource()
    {
        DirectoryModel model(&residents);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        search(residents, {"", "", "", "", ""}, 2);
        QCOMPARE(model.rowCount(), 10);
        QCOMPARE(model.columnCount(), 7);
        QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Ф И О"));
        QCOMPARE(model.headerData(4, Qt::Horizontal).toString(), QString());
        QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("Д'Артаньян Ш."));
        QCOMPARE(model.headerData(0, Qt::Vertical).toString(), QStringLiteral("▶"));
        residents.moveTo(3);
        QCOMPARE(model.headerData(0, Qt::Vertical).toString(), QString());
        QCOMPARE(model.headerData(3, Qt::Vertical).toString(), QStringLiteral("▶"));
        search(residents, {"x", "", "", "", ""});
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(!(model.flags(model.index(0, 0)) & Qt::ItemIsEditable));
    }
};

// A large directory: the grid's rows come from a bounded cache, prefix
// searches take index ranges, and the last row is reached without walking.
class TestLargeDirectory : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void boundedAndIndexed()
    {
        TestDb db;
        db.store->begin();
        for (int i = 0; i < 20000; ++i)
            db.add(DirectoryKind::Residents,
                   {QString::number(200000 + i), QStringLiteral("Фамилия%1 А.А.").arg(i % 997),
                    QStringLiteral("Улица %1").arg(i % 50), QString::number(i % 120), QVariant(),
                    QString::number(i % 90), QVariant()});
        db.store->commit();

        RecordSource rs(DirectoryKind::Residents);
        rs.setStore(db.store.get());
        search(rs, {}, 2);
        QCOMPARE(rs.recordCount(), 20000);
        for (int r = 0; r < rs.recordCount(); r += 37)
            QVERIFY(!rs.value(r, 0).isNull());
        QVERIFY(rs.cachedRowCount() <= 24 * rs.pageSize());
        // The last rows, read backwards from the end, continue the order.
        const QString before = rs.value(19998, 1).toString();
        const QString last = rs.value(19999, 1).toString();
        QVERIFY(before.compare(last) <= 0);

        // A plain prefix search is an index range, never a scan of the table.
        const SearchQuery q = buildSearchQuery({"", "фамилия12", "", "", ""}, DirectoryKind::Residents, SortField::Name,
                                                 DirectoryKind::Residents);
        const QString sql = QStringLiteral("EXPLAIN QUERY PLAN SELECT rowid FROM NASELEN%1 ORDER BY %2")
                                .arg(q.where, q.orderColumns.join(QStringLiteral(", ")));
        Statement plan(db.store->handle(), sql);
        plan.bindText(1, q.parameters.at(0));
        QString detail;
        while (plan.step() == SQLITE_ROW)
            detail += plan.column(3).toString() + QLatin1Char('\n');
        QVERIFY2(detail.contains(QStringLiteral("SEARCH NASELEN USING")) && detail.contains(QStringLiteral("INDEX ix_naselen_name (k_family>? AND k_family<?)")), qPrintable(detail));
        QVERIFY2(!detail.contains(QStringLiteral("SCAN NASELEN\n")), qPrintable(detail));
    }

    // A pattern that starts with a wildcard on a column of few values is
    // matched against those values: the rows found are exactly those a scan
    // finds, in order, and a row written afterwards is found too.
    void leadingWildcardOnFewValues()
    {
        TestDb db;
        const QStringList streets = {"Мира",    "ПРОСПЕКТ МИРА", "Мирная",   "Ёлочная",
                                     "ёлочная", "Садовая",       "Жемчужная"};
        db.store->begin();
        for (int i = 0; i < 3000; ++i)
            db.add(DirectoryKind::Residents,
                   {QString::number(400000 + i), QStringLiteral("%1 Ё.%2").arg(i % 3 ? "Коваль" : "Шевчук").arg(i),
                    i % 11 ? QVariant(streets.at(i % streets.size())) : QVariant(),
                    QString::number(i % 40), QVariant(), QString::number(i % 25), QVariant()});
        db.store->commit();
        // The listed values are the folded ones, once each; a column of more
        // values than the list holds has none.
        const QJsonArray values =
            QJsonDocument::fromJson(db.store->distinctValues(DirectoryKind::Residents, "k_street").toUtf8())
                .array();
        QCOMPARE(values.size(), 6); // Ёлочная and ёлочная fold to one
        QVERIFY(values.contains(QStringLiteral("проспект мира")));
        QVERIFY(db.store->distinctValues(DirectoryKind::Residents, "k_n_tel").isEmpty());
        RecordSource rs(DirectoryKind::Residents);
        rs.setStore(db.store.get());

        auto scanned = [&](const SearchCriteria &c, int sort) { return scan(*db.store, c, sort); };
        auto found = [&](const SearchCriteria &c, int sort) { return ::found(rs, c, sort); };
        const QList<SearchCriteria> cases = {
            {"", "", "*МИРА", "", ""},  {"", "", "*ёлоч", "", ""}, {"", "", "?ира", "", ""},
            {"", "к", "*мир", "7", ""}, {"", "", "*", "", "2"},    {"", "", "*ая", "1", "1"},
            {"", "", "*нет такой", "", ""}, {"", "", "*", "", ""},
            // Names and numbers have too many values for a list.
            {"", "*ВАЛЬ е.1", "", "", ""}, {"", "?евч", "*мир", "", ""}, {"", "?", "", "", ""},
            {"*99", "", "", "", ""}, {"?00", "", "", "", ""},
        };
        for (const SearchCriteria &c : cases) {
            for (int sort : {1, 2, 3, 4}) {
                const QList<qint64> expected = scanned(c, sort);
                QCOMPARE(found(c, sort), expected);
            }
        }
        int withMira = 0;
        for (int i = 0; i < 3000; ++i)
            withMira += i % 11 && foldText(streets.at(i % streets.size())).contains(u"мира");
        QCOMPARE(found({"", "", "*мира", "", ""}, 3).size(), withMira);
        QCOMPARE(found({"", "", "*ёлоч", "", ""}, 3), scanned({"", "", "*ЕЛОЧ", "", ""}, 3));

        // The tests that stand in for GLOB on "*part*" and "?part*" agree with it.
        Statement agree(db.store->handle(), QStringLiteral(
            "SELECT count(*) FROM (SELECT column1 AS v, column2 AS p FROM (VALUES ('коваль', 'ва'), "
            "('коваль', 'ль'), ('коваль', 'оваль'), ('ёж', 'ж'), ('еж', 'ж'), ('ж', 'ж'), ('', 'а'), "
            "('𝔸x', 'x'), ('a𝔸', '𝔸'), ('ab', 'b'), (NULL, 'a'), ('мира', 'ира'))) "
            "WHERE coalesce(kcontains(v, p), 0) <> coalesce(v GLOB '*' || p || '*', 0) "
            "OR coalesce(kafterfirst(v, p), 0) <> coalesce(v GLOB '?' || p || '*', 0)"));
        QCOMPARE(agree.step(), SQLITE_ROW);
        QCOMPARE(agree.columnInt64(0), 0);

        // A street first written after the values were listed and counted.
        const int before = found({"", "", "*мира", "", ""}, 3).size();
        const int all = found({"", "", "*", "", ""}, 3).size();
        QVERIFY(db.store->insertRow(DirectoryKind::Residents,
                                    {"499999", "Новиков", "Миража", "1", QVariant(), "1", QVariant()}));
        QCOMPARE(found({"", "", "*мира", "", ""}, 3).size(), before + 1);
        QCOMPARE(found({"", "", "*", "", ""}, 3).size(), all + 1);
    }

    // Pages read after the one before them (or before the one after them)
    // give the same rows as reading from the start, across ties and NULLs.
    void keysetPagesContinueTheOrder()
    {
        TestDb db;
        db.store->begin();
        for (int i = 0; i < 9000; ++i)
            db.add(DirectoryKind::Residents,
                   {QString::number(300000 + i % 4000), QStringLiteral("Ф%1").arg(i % 37),
                    QStringLiteral("У%1").arg(i % 7), QString::number(i % 130),
                    i % 5 ? QVariant() : QVariant(QStringLiteral("а")),
                    i % 3 ? QVariant() : QVariant(QString::number(i % 11)), QVariant()});
        db.store->commit();
        RecordSource rs(DirectoryKind::Residents);
        rs.setStore(db.store.get());
        for (int sort : {1, 4, 5}) {
            search(rs, {"", "", "", sort == 4 ? "1" : "", ""}, sort);
            const int n = rs.recordCount();
            QVERIFY(n > 20 * rs.pageSize());
            QList<qint64> forwards;
            for (int r = 0; r < n; ++r)
                forwards << rs.rowId(r);
            search(rs, {"", "", "", sort == 4 ? "1" : "", ""}, sort);
            QList<qint64> backwards;
            for (int r = n - 1; r >= 0; --r)
                backwards.prepend(rs.rowId(r));
            QCOMPARE(backwards, forwards);
            QCOMPARE(QSet<qint64>(forwards.cbegin(), forwards.cend()).size(), n);
            // The same rows, in the same order, as SQLite sorts them at once.
            QCOMPARE(forwards, scan(*db.store, {"", "", "", sort == 4 ? "1" : "", ""}, sort));
        }
    }
};


// The in-memory image answers exactly what GLOB answers on the folded
// columns, and never an old state of the table.
class TestSearchImage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The byte matcher reads each pattern as GLOB does, where bytes and
    // characters part ways: several-byte letters under "?", a literal run
    // that occurs twice or overlaps, escaped "[", "*" and "?".
    void matcherReadsPatternsAsGlob()
    {
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(":memory:", &db), SQLITE_OK);
        auto glob = std::make_unique<Statement>(db, QStringLiteral("SELECT ?2 GLOB ?1"));
        // Every text of up to three characters over a short alphabet, as
        // values and as patterns, and a few written out.
        auto texts = [](const QStringList &alphabet) {
            QStringList out = {QString()};
            for (int length = 0, from = 0; length < 3; ++length) {
                const int to = int(out.size());
                for (int i = from; i < to; ++i)
                    for (const QString &c : alphabet)
                        out << out.at(i) + c;
                from = to;
            }
            return out;
        };
        const QStringList values = texts({"a", "б", "𝔸"})
            + QStringList{"енкоенко", "коваленко", "a*b", "a?b", "[a]", "ааб", "ааажб"};
        const QStringList patterns = texts({"a", "б", "*", "?", "𝔸"})
            + QStringList{"*енко*", "*енкоенкоенко*", "*[*]*", "*[[]*", "[?]*", "a*[*]b", "*аб",
                          "*а?б*", "*аа?б*", "??*", "*?*?", "*ен*ко"};
        int checked = 0;
        for (const QString &p : patterns) {
            const std::optional<GlobPattern> pattern = GlobPattern::parse(p.toStdString());
            QVERIFY2(pattern, qPrintable(p));
            for (const QString &v : values) {
                Statement::Use use(*glob);
                glob->bindText(1, p);
                glob->bindText(2, v);
                QCOMPARE(glob->step(), SQLITE_ROW);
                if (pattern->matches(v.toStdString()) != (glob->columnInt64(0) == 1))
                    QFAIL(qPrintable(QStringLiteral("\"%1\" GLOB \"%2\"").arg(v, p)));
                ++checked;
            }
        }
        QVERIFY(checked > 6000);
        // What SQLite reads otherwise is left to it.
        for (const char *p : {"[ab]*", "[^a]*", "[a-z]*", "*[", "a\xef\xbf\xbd*", "\xd0*"})
            QVERIFY2(!GlobPattern::parse(p), p);
        QVERIFY(!GlobPattern::parse(std::string("a\0*", 3)));
        glob.reset();
        sqlite3_close(db);
    }

    // Searches answered from the image give the rows, count and order of a
    // plain scan, in every sort.
    void imageAnswersAsAScanDoes()
    {
        TestDb db;
        const QVariant null;
        const QList<QVariantList> residents = {
            {"21734", "Коваленко Ю.П.", "Садовая", "12", null, "5", null},
            {"21735", "КОВАЛЕНКО", "садовая", " 12", "а", "15", null},
            {"31234", "коваль", "Лесная", "1", null, " 2", null},
            {"41234", "Ёлкин", "Ёлочная", "3", null, null, null},
            {"41235", "елкин", "ёлочная", "30", null, "1", null},
            {"51234", "Smith", "Main St", "7", null, "7", null},
            {"51235", "SMITHSON", "main", "17", null, "70", null},
            {"61234", "Енкоенко", "Мира", "2", null, "2", null},
            {"61235", "", "", "", "", "", ""},
            {null, null, null, null, null, null, null},
            {"77777", null, "Садовая", "7", null, null, null},
            {"71234", "𝔸лфа", "𝔸", "4", null, "4", null},
            {"81234", "Тест_100%", "[Скобка]", "5", null, "5", null},
            {"81235", "звезда*", "вопрос?", "6", null, "6", null},
            {"99999", "Ё", "Ё", "9", null, "9", null},
        };
        for (int copy = 0; copy < 3; ++copy) // ties in every order
            for (const QVariantList &r : residents)
                db.add(DirectoryKind::Residents, r);
        // Streets and houses repeat (the image keeps them as a dictionary),
        // numbers and names do not (kept packed).
        for (int i = 0; i < 100; ++i)
            db.add(DirectoryKind::Residents, {QString::number(10000 + i), QStringLiteral("Жильцов %1").arg(i),
                                              "Садовая", "12", null, QString::number(i % 3), null});
        for (const QVariantList &r : residents)
            db.add(DirectoryKind::Enterprises, {r.at(1), r.at(0), r.at(2), r.at(2), r.at(3), r.at(4), r.at(5), r.at(6)});
        SearchImages images(db.store.get());
        images.start();
        QTRY_VERIFY_WITH_TIMEOUT(images.image(DirectoryKind::Residents) && images.image(DirectoryKind::Enterprises), 20000);
        RecordSource rs(DirectoryKind::Residents);
        RecordSource enterprises(DirectoryKind::Enterprises);
        for (RecordSource *s : {&rs, &enterprises}) {
            s->setStore(db.store.get());
            s->setImages(&images);
        }

        const QList<SearchCriteria> cases = {
            {"", "*енко", "", "", ""},   {"", "*ЕНКО", "", "", ""}, {"", "?ОВАЛ", "", "", ""},
            {"", "*ё", "", "", ""},      {"", "*smith", "", "", ""}, {"", "*S", "", "", ""},
            {"", "?", "", "", ""},       {"", "??", "", "", ""},     {"", "*", "", "", ""},
            {"", "*енкоенкоенко", "", "", ""}, {"", "*_1", "", "", ""}, {"", "*а*", "", "", ""},
            {"", "*𝔸", "", "", ""},      {"*4", "", "", "", ""},     {"?1", "", "", "", ""},
            {"", "", "*ная", "", ""},    {"", "", "?ира", "", ""},   {"", "", "*[ск", "", ""},
            {"", "", "*?", "", ""},      {"", "*к", "", "1", ""},    {"", "", "", "", "*"},
            {"*1", "к", "", "1", "2"},   {"", "*", "*", "", ""},     {"7777", "*", "", "", ""},
            {"", "ко", "", "", "1"},
        };
        int fromImage = 0;
        for (const SearchCriteria &c : cases) {
            for (int sort = 1; sort <= 5; ++sort) {
                QCOMPARE(found(rs, c, sort), scan(*db.store, c, sort));
                fromImage += rs.plan().rows == SearchPlan::Rows::Image;
                if (sort == 2 || sort == 4)
                    QCOMPARE(found(enterprises, c, sort), scan(*db.store, c, sort, 2));
            }
        }
        // Every case but the plain prefix one starts with a wildcard somewhere.
        QCOMPARE(fromImage, 5 * (int(cases.size()) - 1));
    }

    // A write through the store, or by another program, is found at once
    // (by SQLite while the image is stale) and by the image built anew.
    void writesReachTheImage()
    {
        TestDb db;
        test::addSampleTown(db);
        SearchImages images(db.store.get());
        images.start();
        QTRY_VERIFY_WITH_TIMEOUT(images.image(DirectoryKind::Residents), 20000);
        RecordSource rs(DirectoryKind::Residents);
        rs.setStore(db.store.get());
        rs.setImages(&images);
        const SearchCriteria c{"", "*ов", "", "", ""};
        const int before = int(found(rs, c, 2).size());
        QCOMPARE(rs.plan().rows, SearchPlan::Rows::Image);

        auto other = Store::open(db.path());
        QVERIFY(other);
        const QList<std::function<void()>> writes = {
            [&] { db.add(DirectoryKind::Residents, {"11111", "Сидоров", "Ленина", "1", {}, "1", {}}); },
            [&] { QVERIFY(other->insertRow(DirectoryKind::Residents, {"22222", "Ёжиков", "Мира", "2", {}, "2", {}})); },
            [&] { QVERIFY(other->deleteRow(DirectoryKind::Residents, 1)); }, // Петров П.П.
        };
        const int expected[] = {before + 1, before + 2, before + 1};
        for (int i = 0; i < writes.size(); ++i) {
            writes.at(i)();
            QCOMPARE(found(rs, c, 2), scan(*db.store, c, 2));
            QCOMPARE(rs.recordCount(), expected[i]);
            QVERIFY(rs.plan().rows != SearchPlan::Rows::Image);
            QTRY_VERIFY_WITH_TIMEOUT(images.image(DirectoryKind::Residents), 20000);
            QCOMPARE(found(rs, c, 2), scan(*db.store, c, 2));
            QCOMPARE(rs.plan().rows, SearchPlan::Rows::Image);
        }
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int status = 0;
    {
        TestRecordSource t;
        status |= QTest::qExec(&t, argc, argv);
    }
    {
        TestLargeDirectory t;
        status |= QTest::qExec(&t, argc, argv);
    }
    {
        TestSearchImage t;
        status |= QTest::qExec(&t, argc, argv);
    }
    return status;
}
#include "tst_recordsource.moc"
