// How searches are planned, from fixed statistics: no SQLite involved.
#include "core/search/queryplanner.h"
#include "core/search/searchquery.h"

#include <QTest>

using namespace korvana;

namespace {

// A residents' table of a million rows as the planner sees it: few rows
// match a name prefix, more a street prefix, and the image counts some.
struct FixedStatistics : PlanStatistics {
    bool image = false;
    bool houseBlanks = false;
    qint64 tableRows(DirectoryKind) override { return 1'000'000; }
    bool hasLeadingBlanks(DirectoryKind, const QString &field) override { return houseBlanks && field == u"dom"; }
    QString distinctValues(DirectoryKind, const QString &column) override
    {
        return column == u"k_street" ? QStringLiteral("[\"мира\",\"садовая\"]") : QString();
    }
    qint64 boundedCount(DirectoryKind, const PlanCriterion &c, qint64 cap) override
    {
        return std::min(cap, c.tested == u"k_family" ? 3 : c.tested == u"k_street" ? 2'000 : cap);
    }
    bool imageAnswers(DirectoryKind, const QStringList &, const QStringList &) override { return image; }
    qint64 imagePrefixRows(DirectoryKind, const QString &, const QString &literal) override
    {
        return literal == u"к" ? 100'000 : literal == u"с" ? 80'000 : literal == u"1" ? 3'000 : -1;
    }
};

using Count = SearchPlan::Count;
using Rows = SearchPlan::Rows;

} // namespace

class TestQueryPlanner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachSearchTakesItsCheapestSoundRoute()
    {
        // driver: the column the SQL drives with ("" none); tests: each
        // criterion's test and tested column.
        const struct { const char *name; SearchCriteria criteria; int tab, sortField; bool image; qint64 count;
                       Count countBy; Rows rowsBy; QString driver, tests; } cases[] = {
            {"prefix on the sort column is one range",
             {"", "ков", "", "", ""}, 1, 2, true, 30'000, Count::Statement, Rows::DriverRange, "k_family", "glob k_family"},
            {"prefixes that all match many rows: the image counts",
             {"", "к", "с", "", ""}, 1, 2, true, 0, Count::Image, Rows::Image, "", "glob k_family, glob k_street"},
            {"leading wildcard without an image: byte search, scan and sort",
             {"", "*енко", "", "", ""}, 1, 2, false, 900, Count::Statement, Rows::SortedScan, "", "contains k_family"},
            {"? first without an image: compare after the first character",
             {"", "?ван", "", "", ""}, 1, 2, false, 50'000, Count::Statement, Rows::SortIndex, "", "afterfirst k_family"},
            {"star alone counts the non-NULL values",
             {"", "*", "", "", ""}, 1, 2, false, 999'000, Count::NonNull, Rows::SortIndex, "", "glob k_family"},
            {"the personal directory never uses an image, nor a kept count",
             {"", "*", "", "", ""}, 3, 2, true, 10, Count::Statement, Rows::SortedScan, "", "glob k_family"},
            {"a street of few values is matched on its value list",
             {"", "", "*мира", "", ""}, 1, 3, false, 4'000, Count::Statement, Rows::DriverRange, "k_street", "values k_street"},
            {"house with leading blanks keeps the trimmed column",
             {"", "", "", "1", ""}, 1, 4, false, 270'000, Count::Statement, Rows::SortIndex, "kt_dom", "glob kt_dom"},
            {"the narrower criterion drives, counted",
             {"", "мать", "садов", "", ""}, 1, 3, false, 3, Count::Statement, Rows::SortedDriverRange, "k_family", "glob k_family, glob k_street"},
            {"a pattern the image cannot read goes to SQLite",
             {"", QStringLiteral("*a") + QChar(0), "", "", ""}, 1, 2, true, 0, Count::Statement, Rows::SortedScan, "", "contains k_family"},
        };
        for (const auto &t : cases) {
            FixedStatistics stats;
            stats.image = t.image;
            stats.houseBlanks = QByteArray(t.name).contains("with leading blanks");
            const SearchQuery q = buildSearchQuery(t.criteria, kindForTab(t.tab), SortField(t.sortField), kindForTab(t.tab));
            SearchPlan plan = QueryPlanner::plan(q, stats);
            QueryPlanner::planRows(plan, t.count);
            static const char *const names[] = {"glob", "contains", "afterfirst", "values"};
            QStringList tests;
            for (const PlanCriterion &c : plan.criteria)
                tests << QStringLiteral("%1 %2").arg(names[int(c.test)], c.tested);
            const QString driver = plan.driver < 0 ? QString() : plan.criteria.at(plan.driver).tested;
            QVERIFY2(plan.count == t.countBy && plan.rows == t.rowsBy && driver == t.driver
                         && tests.join(QStringLiteral(", ")) == t.tests,
                     qPrintable(QStringLiteral("%1: count %2, rows %3, driver %4, tests %5")
                                    .arg(t.name).arg(int(plan.count)).arg(int(plan.rows)).arg(driver, tests.join(u','))));
        }
    }
};

QTEST_GUILESS_MAIN(TestQueryPlanner)
#include "tst_queryplanner.moc"
