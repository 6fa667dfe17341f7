#include "core/search/queryplanner.h"

#include "core/search/globmatch.h"

#include <algorithm>
#include <cmath>

namespace korvana {

namespace {

// With an image, results of more rows than this are put in order by the
// image rather than by reading every match from the table to sort it.
constexpr qint64 kImageSort = 1000;

// Results up to this size are sorted from the narrowest criterion's index
// range; larger ones are read in order from the sort index, skipping rows
// that miss a criterion. The two costs meet near sqrt(page rows x table rows).
qint64 sortLimit(qint64 tableRows)
{
    return qint64(std::max<double>(2000.0, std::sqrt(64.0 * double(std::max<qint64>(tableRows, 0)))));
}

// A pattern "*part*" or "?part*" whose part has no wildcard is tested by a
// byte search or a compare after the first character instead of GLOB.
PlanCriterion::Test partTest(const QString &pattern, QString *part)
{
    if (pattern.size() < 3 || !pattern.endsWith(u'*'))
        return PlanCriterion::Test::Glob;
    const QString middle = pattern.mid(1, pattern.size() - 2);
    if (middle.contains(u'*') || middle.contains(u'?') || middle.contains(u'['))
        return PlanCriterion::Test::Glob;
    *part = middle;
    if (pattern.startsWith(u'*'))
        return PlanCriterion::Test::Contains;
    if (pattern.startsWith(u'?'))
        return PlanCriterion::Test::AfterFirst;
    return PlanCriterion::Test::Glob;
}

bool canDrive(const PlanCriterion &c)
{
    return QueryPlanner::literalPrefix(c.pattern) > 0 || c.test == PlanCriterion::Test::ValueList;
}

// The criterion whose index range is likely narrowest by its pattern alone;
// -1 when none can drive an index.
int staticDriver(const QList<PlanCriterion> &criteria)
{
    int best = -1;
    double bestScore = 0;
    for (int i = 0; i < criteria.size(); ++i) {
        const PlanCriterion &c = criteria.at(i);
        if (!canDrive(c))
            continue;
        // A value list is scored by the pattern's literal characters, as a
        // prefix of that length would be.
        const int n = c.test == PlanCriterion::Test::ValueList
            ? int(c.pattern.size() - c.pattern.count(u'*') - c.pattern.count(u'?'))
            : QueryPlanner::literalPrefix(c.pattern);
        // Digits narrow a result less per character than letters, and house
        // and flat numbers are short and crowd at their low values.
        const QString &col = c.tested;
        const double score = col.endsWith(QLatin1String("_dom")) || col.endsWith(QLatin1String("_kvart"))
            ? n - 1.0
            : col == QLatin1String("k_n_tel") ? n - 0.5
                                              : double(n);
        if (best < 0 || score > bestScore) {
            best = i;
            bestScore = score;
        }
    }
    return best;
}

// Criterion columns that a criterion column's index holds beside it: rows
// failing those are dropped in the index, before the table is read.
bool indexCovers(const QString &driver, const QString &other)
{
    if (driver == QLatin1String("k_street"))
        return other == QLatin1String("k_dom") || other == QLatin1String("k_kvart");
    if (driver == QLatin1String("k_dom"))
        return other == QLatin1String("k_kvart");
    return false;
}

// Among several criteria that can drive an index, the cheapest by its row
// count bounded at `cap` (each count costs at most cap index steps), a row
// that needs the table read costing more; ties go to the index that judges
// more of the other criteria, then to staticDriver()'s pick.
int measuredDriver(DirectoryKind kind, const QList<PlanCriterion> &criteria, qint64 cap,
                   PlanStatistics &stats)
{
    const int fallback = staticDriver(criteria);
    if (std::count_if(criteria.cbegin(), criteria.cend(), canDrive) < 2)
        return fallback;
    int best = fallback;
    qint64 bestCost = -1;
    int bestCovered = -1;
    for (int i = 0; i < criteria.size(); ++i) {
        if (!canDrive(criteria.at(i)))
            continue;
        int covered = 0;
        for (int j = 0; j < criteria.size(); ++j)
            covered += j != i && indexCovers(criteria.at(i).tested, criteria.at(j).tested);
        const qint64 rows = stats.boundedCount(kind, criteria.at(i), cap);
        if (rows < 0)
            return fallback;
        // A row that the index cannot judge costs a table read, several
        // times an index step.
        const qint64 cost = rows * (covered == criteria.size() - 1 ? 1 : 8);
        const bool tie = cost == bestCost
            && (covered > bestCovered || (covered == bestCovered && i == fallback));
        if (bestCost < 0 || cost < bestCost || tie) {
            best = i;
            bestCost = cost;
            bestCovered = covered;
        }
    }
    return best;
}

bool imageCanMatch(const QList<PlanCriterion> &criteria)
{
    return std::all_of(criteria.cbegin(), criteria.cend(), [](const PlanCriterion &c) {
        return GlobPattern::parse(c.pattern.toStdString()).has_value();
    });
}

} // namespace

namespace QueryPlanner {

int literalPrefix(const QString &pattern)
{
    int n = 0;
    for (QChar c : pattern) {
        if (c == u'*' || c == u'?' || c == u'[')
            break;
        ++n;
    }
    return n;
}

SearchPlan plan(const SearchQuery &query, PlanStatistics &stats)
{
    SearchPlan p;
    p.kind = query.kind;
    p.orderColumns = query.orderColumns;
    QStringList columns;
    for (int i = 0; i < query.parameters.size() && i < query.columns.size(); ++i) {
        PlanCriterion c;
        c.column = c.tested = query.columns.at(i);
        c.pattern = query.parameters.at(i);
        p.criteria.append(c);
        columns << c.column;
    }
    if (p.criteria.isEmpty()) {
        p.count = SearchPlan::Count::WholeTable;
        return p;
    }
    p.image = p.kind != DirectoryKind::Personal && imageCanMatch(p.criteria)
        && stats.imageAnswers(p.kind, columns, p.orderColumns);
    // A pattern that is more than a literal prefix makes SQLite test every
    // entry of an index range (all of the index when it starts with a
    // wildcard): the image answers it with one pass over the values.
    const bool anyScan = std::any_of(p.criteria.cbegin(), p.criteria.cend(), [](const PlanCriterion &c) {
        return literalPrefix(c.pattern) != c.pattern.size() - 1 || !c.pattern.endsWith(u'*');
    });
    p.sortLimit = sortLimit(stats.tableRows(p.kind));
    // Prefixes that all match many rows would have SQLite count a long
    // index range: the image counts them in one pass over the values.
    qint64 fewest = -1;
    for (const PlanCriterion &c : p.criteria) {
        const qint64 n = p.image && !anyScan ? stats.imagePrefixRows(p.kind, c.column, c.pattern.chopped(1)) : -1;
        if (n >= 0 && (fewest < 0 || n < fewest))
            fewest = n;
    }
    if (p.image && (anyScan || fewest > std::max(p.sortLimit, stats.tableRows(p.kind) / 16))) {
        p.count = SearchPlan::Count::Image;
        p.rows = SearchPlan::Rows::Image;
        return p;
    }

    for (PlanCriterion &c : p.criteria) {
        // Without values that start with a blank, the prefix of the trimmed
        // value is the prefix of the value, and the field's sort index
        // serves the criterion too.
        if (c.column.startsWith(QLatin1String("kt_"))
            && !stats.hasLeadingBlanks(p.kind, c.column.mid(3)))
            c.tested = QStringLiteral("k_") + c.column.mid(3);
        // The personal directory may change under us (other tools edit it),
        // so no value list is kept for it.
        if (literalPrefix(c.pattern) == 0 && p.kind != DirectoryKind::Personal) {
            c.values = stats.distinctValues(p.kind, c.tested);
            if (!c.values.isEmpty())
                c.test = PlanCriterion::Test::ValueList;
        }
        if (c.test == PlanCriterion::Test::Glob)
            c.test = partTest(c.pattern, &c.part);
    }
    p.driver = measuredDriver(p.kind, p.criteria, p.sortLimit, stats);
    const QString &only = p.criteria.first().pattern;
    if (p.criteria.size() == 1 && p.kind != DirectoryKind::Personal && only.count(u'*') == only.size())
        p.count = SearchPlan::Count::NonNull; // "*" alone matches every value that is there
    else
        p.count = SearchPlan::Count::Statement;
    return p;
}

void planRows(SearchPlan &plan, qint64 count)
{
    const int d = plan.driver;
    if (plan.count == SearchPlan::Count::Image)
        plan.rows = SearchPlan::Rows::Image;
    else if (plan.criteria.isEmpty())
        plan.rows = SearchPlan::Rows::SortIndex;
    else if (d >= 0 && plan.criteria.at(d).tested == plan.orderColumns.first())
        plan.rows = SearchPlan::Rows::DriverRange; // one index range gives rows and order
    else if (plan.image && count > kImageSort)
        plan.rows = SearchPlan::Rows::Image; // cheaper than reading the matches to sort them
    else if (d >= 0 && count <= plan.sortLimit)
        plan.rows = SearchPlan::Rows::SortedDriverRange;
    else if (d < 0 && count <= plan.sortLimit)
        plan.rows = SearchPlan::Rows::SortedScan;
    else
        plan.rows = SearchPlan::Rows::SortIndex;
}

} // namespace QueryPlanner

} // namespace korvana
