#pragma once

#include "core/search/queryplanner.h"

#include "core/search/searchimage.h"

#include <QVariantList>

#include <memory>

namespace korvana {

class SearchImage;
class Statement;
class Store;

// The SQLite text of a plan, all in one place. Parameters: ?1.. the
// criteria's patterns, ?33.. their value lists, ?49.. their literal parts;
// key bounds, LIMIT and OFFSET follow the criteria from ?n+1 on.
namespace PlanSql {

// The criteria joined by AND; "+" keeps SQLite from driving an index with
// any criterion but `driver` (-1: none; -2: SQLite's choice).
QString criteria(const SearchPlan &plan, int driver);
QString count(const SearchPlan &plan);
void bindCriteria(Statement &s, const SearchPlan &plan);

// One criterion alone, its rows counted up to ?3.
QString boundedCount(DirectoryKind kind, const PlanCriterion &c);
void bindBoundedCount(Statement &s, const PlanCriterion &c, qint64 cap);

// The WHERE of a page read by offset, and its ORDER BY (the sort index, or
// "+" first when SQLite is to sort the matches it found).
QString pageWhere(const SearchPlan &plan, QString *orderBy);

// The rows after (or before) a key: the order columns' values and the
// rowid, in the order's sense (NULL first). "" when the key cannot bound a
// page. The values it uses are appended to *extra.
QString keyset(const SearchPlan &plan, const QVariantList &key, bool after, QVariantList *extra);

// A page: rowid, the table's fields, then the order columns but rowid.
QString rows(const SearchPlan &plan, const QString &where, int extraCount, const QString &orderBy,
             bool descending, bool offset);
// One row by rowid, with the same columns as rows().
QString rowById(const SearchPlan &plan);

} // namespace PlanSql

// The statistics the planner asks for, answered from the store and the
// image of the searched table as one search took it (none: no image).
class StoreStatistics : public PlanStatistics {
public:
    StoreStatistics(Store *store, std::shared_ptr<const SearchImage> image)
        : m_store(store), m_image(std::move(image))
    {
    }

    qint64 tableRows(DirectoryKind kind) override;
    bool hasLeadingBlanks(DirectoryKind kind, const QString &field) override;
    QString distinctValues(DirectoryKind kind, const QString &column) override;
    qint64 boundedCount(DirectoryKind kind, const PlanCriterion &criterion, qint64 cap) override;
    bool imageAnswers(DirectoryKind kind, const QStringList &columns,
                      const QStringList &orderColumns) override;
    qint64 imagePrefixRows(DirectoryKind kind, const QString &column, const QString &prefix) override;

private:
    const SearchImage *imageOf(DirectoryKind kind) const
    {
        return m_image && m_image->kind() == kind ? m_image.get() : nullptr;
    }

    Store *m_store;
    std::shared_ptr<const SearchImage> m_image;
};

} // namespace korvana
