// Searching a real directory file through record sources: every route against a plain scan.
#include "core/search/globmatch.h"
#include "core/search/recordsource.h"
#include "core/search/searchimages.h"
#include "testdb.h"

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

QString said(const SearchCriteria &c)
{
    return QStringList{c.number, c.name, c.street, c.house, c.flat}.join(u'|');
}

// sortField as the window numbers its fields: 1 number .. 5 flat.
RecordSource::Outcome search(RecordSource &rs, const SearchCriteria &c, int sortField = 1)
{
    rs.setQuery(buildSearchQuery(c, rs.kind(), SortField(sortField), rs.kind()));
    return rs.refresh();
}

// The rows a plain scan finds, in the order of the query of these criteria.
QList<qint64> scan(Store &store, const SearchCriteria &c, int sort, DirectoryKind kind = DirectoryKind::Residents)
{
    return test::scanRowIds(store.handle(), buildSearchQuery(c, kind, SortField(sort), kind));
}

// Every row of a search's result; in odd sorts read from the last one
// back, as the End key does, so that pages come both ways.
QList<qint64> found(RecordSource &rs, const SearchCriteria &c, int sort)
{
    search(rs, c, sort);
    QList<qint64> ids;
    for (int i = 0, n = rs.recordCount(); i < n; ++i)
        sort % 2 ? ids.prepend(rs.rowId(n - 1 - i)) : ids.append(rs.rowId(i));
    return ids;
}

// A directory large enough for keyset paging, with ties, NULLs, a street
// column of few values and names the byte matcher finds hard.
void fillLargeDirectory(TestDb &large)
{
    const QStringList streets = {"Мира", "ПРОСПЕКТ МИРА", "Мирная", "Ёлочная", "ёлочная", "Садовая", "Жемчужная"};
    const QVariant null;
    const QList<QVariantList> odd = {
        {"21734", "Коваленко Ю.П.", "Садовая", "12", null, "5", null},
        {"21735", "КОВАЛЕНКО", "садовая", " 12", "а", "15", null},
        {"51234", "Smith", "Main St", "7", null, "7", null},
        {"61234", "Енкоенко", "Мира", "2", null, "2", null},
        {"61235", "", "", "", "", "", ""},
        {null, null, null, null, null, null, null},
        {"71234", "𝔸лфа", "𝔸", "4", null, "4", null},
        {"81234", "Тест_100%", "[Скобка]", "5", null, "5", null},
        {"81235", "звезда*", "вопрос?", "6", null, "6", null},
        {"99999", "Ё", "Ё", "9", null, "9", null},
    };
    large.store->begin();
    for (int i = 0; i < 5000; ++i)
        large.add(DirectoryKind::Residents,
              {QString::number(300000 + i % 2500),
               QStringLiteral("%1 Ё.%2").arg(i % 3 ? "Коваль" : "Шевчук").arg(i % 1200),
               i % 11 ? QVariant(streets.at(i % streets.size())) : null, QString::number(i % 130),
               i % 5 ? null : QVariant(QStringLiteral("а")), i % 3 ? null : QVariant(QString::number(i % 11)),
               null});
    for (int copy = 0; copy < 3; ++copy)
        for (const QVariantList &r : odd) {
            large.add(DirectoryKind::Residents, r);
            large.add(DirectoryKind::Enterprises, {r.at(1), r.at(0), r.at(2), r.at(2), r.at(3), r.at(4), r.at(5), r.at(6)});
        }
    large.store->commit();
}

} // namespace

class TestRecordSource : public QObject {
    Q_OBJECT
    TestDb db;
    RecordSource residents{DirectoryKind::Residents};
    RecordSource enterprises{DirectoryKind::Enterprises};

    TestDb large;
    SearchImages images{large.store.get()};

private Q_SLOTS:
    void initTestCase()
    {
        test::addSampleTown(db);
        residents.setStore(db.store.get());
        enterprises.setStore(db.store.get());
        fillLargeDirectory(large);
        images.start();
        QTRY_VERIFY_WITH_TIMEOUT(images.image(DirectoryKind::Residents) && images.image(DirectoryKind::Enterprises), 30000);
    }

    // Case and ё folded, GLOB's wildcards honoured and its other specials
    // literal, house and flat plain prefixes of the trimmed values,
    // enterprises ordered by name, then remark.
    void findsTheRightRowsInOrder()
    {
        const struct { RecordSource *rs; SearchCriteria c; int sort, column; QStringList rows; } cases[] = {
            {&residents, {"", "петр", "", "", ""}, 2, 1, {"Петров П.П.", "петров п.п.", "ПЕТРОВА Н.Н."}},
            {&residents, {"", "ЁЛ", "", "", ""}, 2, 1, {"Елисеев Е.Е.", "Ёлкина А.Б."}},
            {&residents, {"", "тест?1", "", "", ""}, 2, 1, {"Тест_100%", "ТестX100X"}},
            {&residents, {"", "*100%", "", "", ""}, 2, 1, {"Тест_100%"}},
            {&residents, {"2*0", "", "", "", ""}, 1, 0, {"2300", "23100", "24407", "24408"}},
            {&residents, {"", "", "лес", "", ""}, 3, 2, {"Лесная", "Лесопарковая"}},
            // Sorted by the stored text, so the leading blank comes first.
            {&residents, {"", "", "", "1", ""}, 4, 3, {" 12", "1", "10", "100", "12", "15", "19"}},
            {&residents, {"", "", "", "12", "5"}, 4, 3, {" 12", "12"}},
            {&residents, {"", "", "", "", "2"}, 5, 5, {"2", "20", "21"}},
            {&residents, {"", "", "", "1*", ""}, 4, 3, {}},
            {&enterprises, {"", "шк", "", "", ""}, 2, 2, {"  директор  ", "бухгалтерия"}},
            {&enterprises, {"", "АПТЕКА", "", "", ""}, 2, 0, {"аптека №12", "Аптека №5"}},
        };
        for (const auto &t : cases) {
            const bool ok = search(*t.rs, t.c, t.sort) == RecordSource::Outcome::Ok;
            const QStringList got = names(*t.rs, t.column);
            QVERIFY2(ok && got == t.rows, qPrintable(said(t.c) + QStringLiteral(" found ") + got.join(u',')));
        }
    }

    void malformedQueryKeepsTheLastResult()
    {
        search(residents, {"", "петр", "", "", ""}, 2);
        QSignalSpy moved(&residents, &RecordSource::repositioned);
        QCOMPARE(search(residents, {"", "Д'А", "", "", ""}, 2), RecordSource::Outcome::Malformed);
        QCOMPARE(residents.recordCount(), 3);
        QCOMPARE(moved.count(), 0);
    }

    void movingPastTheEndLeavesNoCurrentRecord()
    {
        QSignalSpy moved(&residents, &RecordSource::repositioned);
        search(residents, {"9", "", "", "", ""});
        QCOMPARE(residents.fieldValue(QStringLiteral("n_tel")).toString(), QStringLiteral("93020"));
        residents.moveNext();
        residents.moveNext(); // past the last of two
        QCOMPARE(residents.absolutePosition(), -1);
        QVERIFY(residents.fieldValue(QStringLiteral("Family")).isNull());
        residents.movePrevious(); // back on the last one
        QCOMPARE(residents.absolutePosition(), 1);
        QCOMPARE(moved.count(), 4);
        search(residents, {"0000", "", "", "", ""});
        residents.moveNext();
        QCOMPARE(residents.absolutePosition(), -1);
    }

    // A plain prefix search is an index range, never a scan of the table.
    void prefixSearchTakesAnIndexRange()
    {
        auto plan = test::queryStatement(large.store->handle(), buildSearchQuery({"", "коваль ё.12", "", "", ""},
                                         DirectoryKind::Residents, SortField::Name, DirectoryKind::Residents),
                                         "EXPLAIN QUERY PLAN SELECT rowid FROM %1%2 ORDER BY %3");
        QString detail;
        while (plan->step() == SQLITE_ROW)
            detail += plan->column(3).toString() + QLatin1Char('\n');
        QVERIFY2(detail.contains(QStringLiteral("SEARCH NASELEN USING"))
                     && detail.contains(QStringLiteral("INDEX ix_naselen_name (k_family>? AND k_family<?)")),
                 qPrintable(detail));
    }

    // SQLite's plans (byte search, value lists, keyset pages both ways
    // across ties and NULLs, the count of "*" alone) and the in-memory image
    // find exactly the rows of a plain scan, in its order, in every sort,
    // within a bounded cache.
    void everyRouteFindsWhatAScanFinds()
    {
        RecordSource plain(DirectoryKind::Residents), imaged(DirectoryKind::Residents),
            enterprises(DirectoryKind::Enterprises);
        for (RecordSource *s : {&plain, &imaged, &enterprises})
            s->setStore(large.store.get());
        imaged.setImages(&images);
        enterprises.setImages(&images);

        const SearchCriteria cases[] = {
            {"", "*ЕНКО", "", "", ""}, {"", "?ОВАЛ", "", "", ""}, {"", "*ё", "", "", ""},
            {"", "*smith", "", "", ""}, {"", "??", "", "", ""}, {"", "*", "", "", ""},
            {"", "*енкоенкоенко", "", "", ""}, {"", "*_1", "", "", ""}, {"", "*𝔸", "", "", ""},
            {"", "*ВАЛЬ е.1", "", "", ""}, {"*99", "", "", "", ""}, {"?1", "", "", "", ""},
            {"", "", "*МИРА", "", ""}, {"", "", "*ёлоч", "", ""}, {"", "", "?ира", "", ""},
            {"", "", "*[ск", "", ""}, {"", "", "*?", "", ""}, {"", "", "*нет такой", "", ""},
            {"", "", "*", "", ""}, {"", "к", "*мир", "7", ""}, {"", "", "*ая", "1", "1"},
            {"", "", "", "", "*"}, {"*1", "к", "", "1", "2"}, {"", "*", "*", "", ""}, {"7777", "*", "", "", ""},
        };
        for (const SearchCriteria &c : cases) {
            for (int sort = 1; sort <= 5; ++sort) {
                const QString name = said(c) + QStringLiteral(" sorted by %1").arg(sort);
                const QList<qint64> expected = scan(*large.store, c, sort);
                QVERIFY2(found(plain, c, sort) == expected, qPrintable(name));
                QVERIFY(plain.cachedRowCount() <= 24 * plain.pageSize());
                QVERIFY2(found(imaged, c, sort) == expected, qPrintable(name + QStringLiteral(" (image)")));
                QVERIFY2(imaged.plan().rows == SearchPlan::Rows::Image, qPrintable(name));
                if (sort == 2 || sort == 4)
                    QVERIFY2(found(enterprises, c, sort) == scan(*large.store, c, sort, DirectoryKind::Enterprises),
                             qPrintable(name + QStringLiteral(" (enterprises)")));
            }
        }
    }

    // The byte matcher reads each pattern as GLOB does, where bytes and
    // characters part ways: several-byte letters under "?", a literal run
    // that occurs twice or overlaps, escaped "[", "*" and "?".
    void matcherReadsPatternsAsGlob()
    {
        Statement glob(large.store->handle(), QStringLiteral("SELECT ?2 GLOB ?1"));
        // Every text of up to three characters over a short alphabet, as
        // values and as patterns, and a few written out.
        auto texts = [](const QStringList &alphabet, const QStringList &more) {
            QStringList out = {QString()};
            for (int i = 0, n = int(alphabet.size()); i < 1 + n + n * n; ++i)
                for (const QString &c : alphabet)
                    out << out.at(i) + c;
            return out + more;
        };
        const QStringList values = texts({"a", "б", "𝔸"}, {"енкоенко", "коваленко", "a*b", "a?b", "[a]", "ааб", "ааажб"});
        for (const QString &p : texts({"a", "б", "*", "?", "𝔸"}, {"*енко*", "*енкоенкоенко*", "*[*]*", "*[[]*", "[?]*",
                                                                  "a*[*]b", "*аб", "*а?б*", "*аа?б*", "??*", "*?*?", "*ен*ко"})) {
            const std::optional<GlobPattern> pattern = GlobPattern::parse(p.toStdString());
            QVERIFY2(pattern, qPrintable(p));
            for (const QString &v : values) {
                Statement::Use use(glob);
                glob.bindText(1, p);
                glob.bindText(2, v);
                if (glob.step() != SQLITE_ROW || pattern->matches(v.toStdString()) != (glob.columnInt64(0) == 1))
                    QFAIL(qPrintable(QStringLiteral("\"%1\" GLOB \"%2\"").arg(v, p)));
            }
        }
    }

    // A write through the store, or by another program, is found at once
    // (by SQLite, whose street value list is read anew, while the image is
    // stale) and by the image built anew. Runs last: it changes the file.
    void writesReachTheImage()
    {
        RecordSource rs(DirectoryKind::Residents);
        rs.setStore(large.store.get());
        rs.setImages(&images);
        auto other = Store::open(large.path());
        QVERIFY(other);
        const SearchCriteria c{"", "", "*ин", "", ""};
        auto foundAnewAndByTheImage = [&](int expected) {
            QCOMPARE(found(rs, c, 3), scan(*large.store, c, 3));
            QCOMPARE(rs.recordCount(), expected);
            QCOMPARE(rs.plan().criteria.first().test, PlanCriterion::Test::ValueList);
            QTRY_VERIFY_WITH_TIMEOUT(images.image(DirectoryKind::Residents), 20000);
            QCOMPARE(found(rs, c, 3), scan(*large.store, c, 3));
            QCOMPARE(rs.plan().rows, SearchPlan::Rows::Image);
        };
        large.add(DirectoryKind::Residents, {"11111", "Сидоров", "Калинина", "1", {}, "1", {}});
        foundAnewAndByTheImage(1);
        qint64 rowid = 0;
        QVERIFY(other->insertRow(DirectoryKind::Residents, {"22222", "Ёжиков", "Малинина", "2", {}, "2", {}}, &rowid));
        foundAnewAndByTheImage(2);
        QVERIFY(other->deleteRow(DirectoryKind::Residents, rowid));
        foundAnewAndByTheImage(1);
    }
};

QTEST_GUILESS_MAIN(TestRecordSource)
#include "tst_recordsource.moc"
