#pragma once

#include "core/search/searchquery.h"
#include "core/store/directorykind.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace korvana {

// One criterion of a search as the plan runs it.
struct PlanCriterion {
    enum class Test {
        Glob,       // column GLOB pattern
        Contains,   // "*part*": a byte search for `part`
        AfterFirst, // "?part*": `part` right after the first character
        ValueList,  // column IN the listed values that match the pattern
    };
    QString column;  // the folded column of the query (k_family, kt_dom, ...)
    QString tested;  // the column the SQL tests: kt_x becomes k_x when no x starts with a blank
    QString pattern; // the GLOB pattern, bound as a parameter
    Test test = Test::Glob;
    QString part;    // the literal of Contains and AfterFirst
    QString values;  // ValueList: the column's distinct values as a JSON array
};

// How one search is answered: how its exact count is found and how its rows
// are read in order, a page at a time.
struct SearchPlan {
    enum class Count {
        WholeTable, // no criteria: the table's row count
        NonNull,    // "*" alone: the column's non-NULL rows
        Statement,  // a count statement over the criteria
        Image,      // the in-memory image of the table
    };
    enum class Rows {
        SortIndex,         // along the sort index, the criteria as filters
        DriverRange,       // the driving criterion's index range is the sort order
        SortedDriverRange, // the driving criterion's range, sorted
        SortedScan,        // a scan of a narrow index for the matches, sorted
        Image,             // positions in the image's order, rows read by rowid
    };

    DirectoryKind kind = DirectoryKind::Residents;
    QList<PlanCriterion> criteria;
    QStringList orderColumns; // folded columns, rowid last
    int driver = -1;          // the criterion whose index range is read; -1 none
    qint64 sortLimit = 0;     // results up to this size are sorted from a range
    bool image = false;       // an up-to-date image of the table can answer it
    Count count = Count::WholeTable;
    Rows rows = Rows::SortIndex;
};

// What the planner needs to know of the data. The store answers it from
// SQLite; tests answer it with fixed numbers.
class PlanStatistics {
public:
    virtual ~PlanStatistics() = default;
    virtual qint64 tableRows(DirectoryKind kind) = 0;
    // Whether any value of a field ("Dom", "Kvart") starts with a blank.
    virtual bool hasLeadingBlanks(DirectoryKind kind, const QString &field) = 0;
    // The distinct values of a folded column as a JSON array when there are
    // few of them, "" otherwise.
    virtual QString distinctValues(DirectoryKind kind, const QString &column) = 0;
    // Rows that one criterion alone matches, counted up to `cap`.
    virtual qint64 boundedCount(DirectoryKind kind, const PlanCriterion &criterion, qint64 cap) = 0;
    // Whether an up-to-date in-memory image of the table holds these
    // criteria columns and this order.
    virtual bool imageAnswers(DirectoryKind kind, const QStringList &columns,
                              const QStringList &orderColumns) = 0;
    // Rows whose folded column starts with a literal, as the image counts
    // them without a pass; -1 when it cannot.
    virtual qint64 imagePrefixRows(DirectoryKind kind, const QString &column, const QString &prefix) = 0;
};

namespace QueryPlanner {

// The plan of a query up to its count. A query that is malformed or
// invalid is never planned (the record source refuses it first).
SearchPlan plan(const SearchQuery &query, PlanStatistics &stats);

// With the exact count known: how the rows are read.
void planRows(SearchPlan &plan, qint64 count);

// Characters of a GLOB pattern before its first wildcard or class.
int literalPrefix(const QString &pattern);

} // namespace QueryPlanner

} // namespace korvana
