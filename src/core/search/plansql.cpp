#include "core/search/plansql.h"

#include "core/search/searchimages.h"
#include "core/store/store.h"

#include <sqlite3.h>

namespace korvana {

namespace {

constexpr int kValuesParam = 32;
constexpr int kPartParam = 48;

QString join(const QStringList &list) { return list.join(QStringLiteral(", ")); }

} // namespace

namespace PlanSql {

QString criteria(const SearchPlan &plan, int driver)
{
    QStringList out;
    for (int i = 0; i < plan.criteria.size(); ++i) {
        const PlanCriterion &c = plan.criteria.at(i);
        const QString plus = i == driver || driver == -2 ? QString() : QStringLiteral("+");
        switch (c.test) {
        case PlanCriterion::Test::Contains:
            out << QStringLiteral("kcontains(%1, ?%2)").arg(c.tested).arg(kPartParam + i + 1);
            break;
        case PlanCriterion::Test::AfterFirst:
            out << QStringLiteral("kafterfirst(%1, ?%2)").arg(c.tested).arg(kPartParam + i + 1);
            break;
        case PlanCriterion::Test::ValueList:
            out << QStringLiteral("%1%2 IN (SELECT value FROM json_each(?%3) WHERE value GLOB ?%4)")
                       .arg(plus, c.tested)
                       .arg(kValuesParam + i + 1)
                       .arg(i + 1);
            break;
        case PlanCriterion::Test::Glob:
            out << QStringLiteral("%1%2 GLOB ?%3").arg(plus, c.tested).arg(i + 1);
            break;
        }
    }
    return out.join(QStringLiteral(" AND "));
}

QString count(const SearchPlan &plan)
{
    // With no index range to use, SQLite scans the narrowest index that
    // covers the criteria.
    return QStringLiteral("SELECT count(*) FROM %1 WHERE %2")
        .arg(tableInfo(plan.kind).table, criteria(plan, plan.driver < 0 ? -2 : plan.driver));
}

void bindCriteria(Statement &s, const SearchPlan &plan)
{
    for (int i = 0; i < plan.criteria.size(); ++i) {
        const PlanCriterion &c = plan.criteria.at(i);
        s.bindText(i + 1, c.pattern);
        if (c.test == PlanCriterion::Test::ValueList)
            s.bindText(kValuesParam + i + 1, c.values);
        else if (!c.part.isEmpty())
            s.bindText(kPartParam + i + 1, c.part);
    }
}

QString boundedCount(DirectoryKind kind, const PlanCriterion &c)
{
    const QString condition = c.test == PlanCriterion::Test::ValueList
        ? QStringLiteral("%1 IN (SELECT value FROM json_each(?2) WHERE value GLOB ?1)").arg(c.tested)
        : QStringLiteral("%1 GLOB ?1").arg(c.tested);
    return QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM %1 WHERE %2 LIMIT ?3)")
        .arg(tableInfo(kind).table, condition);
}

void bindBoundedCount(Statement &s, const PlanCriterion &c, qint64 cap)
{
    s.bindText(1, c.pattern);
    if (c.test == PlanCriterion::Test::ValueList)
        s.bindText(2, c.values);
    s.bindInt64(3, cap);
}

QString pageWhere(const SearchPlan &plan, QString *orderBy)
{
    *orderBy = join(plan.orderColumns);
    const QString &firstOrder = plan.orderColumns.first();
    switch (plan.rows) {
    case SearchPlan::Rows::DriverRange:
        return criteria(plan, plan.driver);
    case SearchPlan::Rows::SortedDriverRange:
        orderBy->prepend(u'+');
        return criteria(plan, plan.driver);
    case SearchPlan::Rows::SortedScan:
        // Every pattern starts with a wildcard and few rows match: find
        // them by scanning a narrow covering index, then sort them.
        orderBy->prepend(u'+');
        return QStringLiteral("rowid IN (SELECT rowid FROM %1 WHERE %2)")
            .arg(tableInfo(plan.kind).table, criteria(plan, -2));
    case SearchPlan::Rows::Image:
    case SearchPlan::Rows::SortIndex:
        break;
    }
    if (plan.criteria.isEmpty())
        return QString();
    QString where = criteria(plan, -1);
    // A criterion on the first sort column (or its trimmed twin) never
    // matches NULL, and NULLs sort first: skip them by the index.
    for (const PlanCriterion &c : plan.criteria) {
        if (c.tested == firstOrder || c.tested == QStringLiteral("kt_") + firstOrder.mid(2)) {
            where += QStringLiteral(" AND %1 IS NOT NULL").arg(firstOrder);
            break;
        }
    }
    return where;
}

// The result is ordered by the order columns, NULL first, then rowid;
// "after" (or "before") a key is the lexicographic comparison written out
// column by column (row values would compare NULL as unknown).
QString keyset(const SearchPlan &plan, const QVariantList &key, bool after, QVariantList *extra)
{
    const QStringList &cols = plan.orderColumns;
    if (key.size() != cols.size())
        return QString();
    const int base = int(plan.criteria.size());
    auto param = [&](const QVariant &v) {
        *extra << v;
        return QStringLiteral("?%1").arg(base + extra->size());
    };
    QStringList terms;
    QStringList equal;
    for (int i = 0; i < cols.size(); ++i) {
        const QVariant &v = key.at(i);
        if (after) {
            terms << (equal + QStringList{v.isNull() ? cols.at(i) + QStringLiteral(" IS NOT NULL")
                                                     : cols.at(i) + QStringLiteral(" > ") + param(v)})
                         .join(QStringLiteral(" AND "));
        } else if (!v.isNull()) { // nothing sorts before NULL; rowid is never NULL
            const QString less = cols.at(i) == QLatin1String("rowid")
                ? QStringLiteral("rowid < %1").arg(param(v))
                : QStringLiteral("(%1 < %2 OR %1 IS NULL)").arg(cols.at(i), param(v));
            terms << (equal + QStringList{less}).join(QStringLiteral(" AND "));
        }
        if (i + 1 < cols.size())
            equal << (v.isNull() ? cols.at(i) + QStringLiteral(" IS NULL")
                                 : cols.at(i) + QStringLiteral(" = ") + param(v));
    }
    if (terms.isEmpty())
        return QString();
    QString where = QStringLiteral("(%1)").arg(terms.join(QStringLiteral(" OR ")));
    // The leading bound is what lets the sort index seek; before a key it
    // leaves out rows whose first column is NULL, so a short read falls back
    // to the offset.
    if (after && !key.first().isNull() && cols.size() > 1)
        where.prepend(QStringLiteral("%1 >= %2 AND ").arg(cols.first(), param(key.first())));
    if (!after && cols.size() > 1)
        where.prepend(key.first().isNull()
                          ? QStringLiteral("%1 IS NULL AND ").arg(cols.first())
                          : QStringLiteral("%1 <= %2 AND ").arg(cols.first(), param(key.first())));
    if (!plan.criteria.isEmpty())
        where.prepend(criteria(plan, -1) + QStringLiteral(" AND "));
    return where;
}

namespace {

QString selectColumns(const SearchPlan &plan)
{
    const QStringList keyCols = plan.orderColumns.mid(0, plan.orderColumns.size() - 1);
    return QStringLiteral("rowid, ") + join(tableInfo(plan.kind).fields)
        + (keyCols.isEmpty() ? QString() : QStringLiteral(", ") + join(keyCols));
}

} // namespace

QString rows(const SearchPlan &plan, const QString &where, int extraCount, const QString &orderBy,
             bool descending, bool offset)
{
    QString order = orderBy;
    if (descending)
        order = orderBy.split(QStringLiteral(", ")).join(QStringLiteral(" DESC, ")) + QStringLiteral(" DESC");
    const int n = int(plan.criteria.size()) + extraCount;
    QString sql = QStringLiteral("SELECT %1 FROM %2%3 ORDER BY %4 LIMIT ?%5")
                      .arg(selectColumns(plan), tableInfo(plan.kind).table,
                           where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where, order)
                      .arg(n + 1);
    if (offset)
        sql += QStringLiteral(" OFFSET ?%1").arg(n + 2);
    return sql;
}

QString rowById(const SearchPlan &plan)
{
    return QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?1")
        .arg(selectColumns(plan), tableInfo(plan.kind).table);
}

} // namespace PlanSql

qint64 StoreStatistics::tableRows(DirectoryKind kind)
{
    // The image knows it at once; the store counts the table the first time.
    const SearchImage *image = imageOf(kind);
    return image ? image->rowCount() : m_store->tableRowCount(kind);
}

bool StoreStatistics::hasLeadingBlanks(DirectoryKind kind, const QString &field)
{
    return m_store->hasLeadingBlanks(kind, field);
}

QString StoreStatistics::distinctValues(DirectoryKind kind, const QString &column)
{
    return m_store->distinctValues(kind, column);
}

qint64 StoreStatistics::boundedCount(DirectoryKind kind, const PlanCriterion &criterion, qint64 cap)
{
    Statement *s = m_store->statement(PlanSql::boundedCount(kind, criterion));
    if (!s)
        return -1;
    Statement::Use use(*s);
    PlanSql::bindBoundedCount(*s, criterion, cap);
    return s->step() == SQLITE_ROW ? s->columnInt64(0) : -1;
}

bool StoreStatistics::imageAnswers(DirectoryKind kind, const QStringList &columns,
                                   const QStringList &orderColumns)
{
    const SearchImage *image = imageOf(kind);
    return image && image->answers(columns, orderColumns);
}

qint64 StoreStatistics::imagePrefixRows(DirectoryKind kind, const QString &column, const QString &prefix)
{
    const SearchImage *image = imageOf(kind);
    return image ? image->prefixRows(column, prefix.toStdString()) : -1;
}

} // namespace korvana
