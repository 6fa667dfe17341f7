// How searches are planned, from fixed statistics: no SQLite involved.
#include "core/search/queryplanner.h"
#include "core/search/searchquery.h"

#include <QTest>

using namespace korvana;

namespace {

// A residents' table of a million rows as the planner sees it.
struct FixedStatistics : PlanStatistics {
    bool image = false;
    bool houseBlanks = false;
    QHash<QString, qint64> rows;   // bounded counts by column, uncapped
    QHash<QString, qint64> prefix; // the image's counts by prefix
    qint64 tableRows(DirectoryKind) override { return 1'000'000; }
    bool hasLeadingBlanks(DirectoryKind, const QString &field) override
    {
        return houseBlanks && field == QLatin1String("dom");
    }
    QString distinctValues(DirectoryKind, const QString &column) override
    {
        return column == QLatin1String("k_street") ? QStringLiteral("[\"мира\",\"садовая\"]") : QString();
    }
    qint64 boundedCount(DirectoryKind, const PlanCriterion &c, qint64 cap) override
    {
        return std::min(cap, rows.value(c.tested, cap));
    }
    bool imageAnswers(DirectoryKind, const QStringList &, const QStringList &) override { return image; }
    qint64 imagePrefixRows(DirectoryKind, const QString &, const QString &literal) override
    {
        return prefix.value(literal, -1);
    }
};

using Count = SearchPlan::Count;
using Rows = SearchPlan::Rows;
using Test = PlanCriterion::Test;

} // namespace

Q_DECLARE_METATYPE(korvana::SearchCriteria)
Q_DECLARE_METATYPE(korvana::SearchPlan::Count)
Q_DECLARE_METATYPE(korvana::SearchPlan::Rows)

class TestQueryPlanner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachSearchTakesItsCheapestSoundRoute_data()
    {
        QTest::addColumn<SearchCriteria>("criteria");
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("sortField");
        QTest::addColumn<bool>("image");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<Count>("countBy");
        QTest::addColumn<Rows>("rowsBy");
        QTest::addColumn<QString>("driver"); // the column the SQL drives with, "" none
        QTest::addColumn<QString>("tests");  // each criterion's test and tested column

        QTest::newRow("whole table") << SearchCriteria{} << 1 << 1 << true << qint64(1'000'000)
                                     << Count::WholeTable << Rows::SortIndex << "" << "";
        QTest::newRow("prefix on the sort column is one range")
            << SearchCriteria{"", "ков", "", "", ""} << 1 << 2 << true << qint64(30'000)
            << Count::Statement << Rows::DriverRange << "k_family" << "glob k_family";
        QTest::newRow("a few matches are sorted from their range")
            << SearchCriteria{"", "ков", "", "", ""} << 1 << 1 << true << qint64(500)
            << Count::Statement << Rows::SortedDriverRange << "k_family" << "glob k_family";
        QTest::newRow("more matches than are cheap to sort: the image orders them")
            << SearchCriteria{"", "ков", "", "", ""} << 1 << 1 << true << qint64(5'000)
            << Count::Statement << Rows::Image << "k_family" << "glob k_family";
        QTest::newRow("without an image SQLite sorts them")
            << SearchCriteria{"", "ков", "", "", ""} << 1 << 1 << false << qint64(5'000)
            << Count::Statement << Rows::SortedDriverRange << "k_family" << "glob k_family";
        QTest::newRow("many matches walk the sort index without an image")
            << SearchCriteria{"", "ков", "", "", ""} << 1 << 1 << false << qint64(30'000)
            << Count::Statement << Rows::SortIndex << "k_family" << "glob k_family";
        QTest::newRow("many matches come from the image when it is ready")
            << SearchCriteria{"", "ков", "", "", ""} << 1 << 1 << true << qint64(30'000)
            << Count::Statement << Rows::Image << "k_family" << "glob k_family";
        QTest::newRow("prefixes that all match many rows: the image counts")
            << SearchCriteria{"", "к", "с", "", ""} << 1 << 2 << true << qint64(0) << Count::Image
            << Rows::Image << "" << "glob k_family, glob k_street";
        QTest::newRow("one narrow prefix: SQLite counts its range")
            << SearchCriteria{"", "к", "", "1", ""} << 1 << 2 << true << qint64(0)
            << Count::Statement << Rows::DriverRange << "k_family" << "glob k_family, glob k_dom";
        QTest::newRow("leading wildcard: the image answers")
            << SearchCriteria{"", "*енко", "", "", ""} << 1 << 2 << true << qint64(0) << Count::Image
            << Rows::Image << "" << "glob k_family";
        QTest::newRow("leading wildcard without an image: byte search, scan and sort")
            << SearchCriteria{"", "*енко", "", "", ""} << 1 << 2 << false << qint64(900)
            << Count::Statement << Rows::SortedScan << "" << "contains k_family";
        QTest::newRow("? first without an image: compare after the first character")
            << SearchCriteria{"", "?ван", "", "", ""} << 1 << 2 << false << qint64(50'000)
            << Count::Statement << Rows::SortIndex << "" << "afterfirst k_family";
        QTest::newRow("star alone counts the non-NULL values")
            << SearchCriteria{"", "*", "", "", ""} << 1 << 2 << false << qint64(999'000)
            << Count::NonNull << Rows::SortIndex << "" << "glob k_family";
        QTest::newRow("the personal directory never uses an image, nor a kept count")
            << SearchCriteria{"", "*", "", "", ""} << 3 << 2 << true << qint64(10)
            << Count::Statement << Rows::SortedScan << "" << "glob k_family";
        QTest::newRow("a street of few values is matched on its value list")
            << SearchCriteria{"", "", "*мира", "", ""} << 1 << 3 << false << qint64(4'000)
            << Count::Statement << Rows::DriverRange << "k_street" << "values k_street";
        QTest::newRow("house without leading blanks uses the sort column")
            << SearchCriteria{"", "", "", "1", ""} << 1 << 4 << false << qint64(270'000)
            << Count::Statement << Rows::DriverRange << "k_dom" << "glob k_dom";
        QTest::newRow("house with leading blanks keeps the trimmed column")
            << SearchCriteria{"", "", "", "1", ""} << 1 << 4 << false << qint64(270'000)
            << Count::Statement << Rows::SortIndex << "kt_dom" << "glob kt_dom";
        QTest::newRow("the narrower criterion drives, counted")
            << SearchCriteria{"", "мать", "садов", "", ""} << 1 << 3 << false << qint64(3)
            << Count::Statement << Rows::SortedDriverRange << "k_family"
            << "glob k_family, glob k_street";
        QTest::newRow("a wildcard beside a prefix: the image answers both")
            << SearchCriteria{"", "к", "*мира", "7", ""} << 1 << 2 << true << qint64(0)
            << Count::Image << Rows::Image << "" << "glob k_family, glob k_street, glob kt_dom";
        QTest::newRow("a wildcard inside a pattern: the image answers")
            << SearchCriteria{"9?08", "", "", "", ""} << 1 << 1 << true << qint64(0) << Count::Image
            << Rows::Image << "" << "glob k_n_tel";
        QTest::newRow("a pattern the image cannot read goes to SQLite")
            << SearchCriteria{"", QStringLiteral("*a") + QChar(0), "", "", ""} << 1 << 2 << true
            << qint64(0) << Count::Statement << Rows::SortedScan << "" << "contains k_family";
    }

    void eachSearchTakesItsCheapestSoundRoute()
    {
        QFETCH(SearchCriteria, criteria);
        QFETCH(int, tab);
        QFETCH(int, sortField);
        QFETCH(bool, image);
        QFETCH(qint64, count);
        FixedStatistics stats;
        stats.image = image;
        stats.houseBlanks = QByteArray(QTest::currentDataTag()).contains("with leading blanks");
        stats.rows = {{"k_family", 3}, {"k_street", 2'000}};
        stats.prefix = {{"к", 100'000}, {"с", 80'000}, {"1", 3'000}};

        SearchPlan plan = QueryPlanner::plan(buildSearchQuery(criteria, kindForTab(tab), SortField(sortField), kindForTab(tab)), stats);
        QueryPlanner::planRows(plan, count);
        QTEST(plan.count, "countBy");
        QTEST(plan.rows, "rowsBy");
        QTEST(plan.driver < 0 ? QString() : plan.criteria.at(plan.driver).tested, "driver");
        QStringList tests;
        for (const PlanCriterion &c : plan.criteria) {
            static const char *const names[] = {"glob", "contains", "afterfirst", "values"};
            tests << QStringLiteral("%1 %2").arg(names[int(c.test)], c.tested);
        }
        QTEST(tests.join(QStringLiteral(", ")), "tests");
    }
};

QTEST_GUILESS_MAIN(TestQueryPlanner)
#include "tst_queryplanner.moc"
