#pragma once

#include "core/search/searchquery.h"
#include "core/store/directorykind.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QVariant>

namespace korvana {

class Statement;
class Store;

// One record source: the result of a query on one directory table and a
// current record in it. The result is never held whole: the exact count is
// asked of the store, and rows are fetched a page at a time as the grid
// shows them, into a small cache.
class RecordSource : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Ok, Malformed, Failed };

    RecordSource(DirectoryKind kind, QObject *parent = nullptr);

    DirectoryKind kind() const { return m_kind; }
    // A null store gives an empty directory (the database could not be opened).
    void setStore(Store *store);
    Store *store() const { return m_store; }

    void setQuery(const SearchQuery &query);
    const SearchQuery &query() const { return m_query; }
    QString queryText() const { return m_query.text; }

    // Runs the query: exact count, first row current (none when empty), then
    // resultReset() and repositioned().
    Outcome refresh();

    QString caption() const { return m_caption; }
    void setCaption(const QString &caption);

    int recordCount() const { return m_count; }
    int absolutePosition() const { return m_position; } // -1 when none

    void moveFirst();
    void moveLast();
    void moveNext();     // past the last record: no current record, as the data engine does
    void movePrevious(); // before the first: no current record
    void moveTo(int row);

    // Field of the current record by name (case-insensitive); a null QVariant
    // for NULL and when there is no current record.
    QVariant fieldValue(const QString &field) const;
    // Field by column index (in tableInfo(kind).fields order) of any row.
    QVariant value(int row, int column) const;
    qint64 rowId(int row) const;

    // Writing (the personal directory): a new record is started, filled and
    // stored; update() returns false when the store refuses it, and the
    // pending record is dropped either way.
    void addNew();
    void setField(const QString &field, const QVariant &value);
    bool update();
    bool editField(int row, int column, const QVariant &value);
    // Changes several fields of one row at once: all are stored or none.
    bool editRow(int row, const QHash<int, QVariant> &values);
    // Stores a new row from values by column; all or nothing.
    bool insertRow(const QVariantList &values);
    bool deleteRow(int row);

    int pageSize() const { return kPageSize; }
    int cachedRowCount() const;

Q_SIGNALS:
    void repositioned();
    void aboutToResetResult();
    void resultReset();
    void captionChanged(const QString &caption);

private:
    static constexpr int kPageSize = 64;
    static constexpr int kMaxPages = 24;

    struct Row {
        qint64 rowid = 0;
        QVariantList values;
        QVariantList key; // the order columns but rowid, for keyset paging
    };
    // One criterion of the query: its column and its bound pattern.
    // When the pattern starts with a wildcard and the column holds few
    // distinct values, `values` lists them all (JSON) and the criterion
    // becomes an IN over those that match, seeks on the column's index.
    struct Criterion {
        QString column;
        QString pattern;
        QString values;
    };
    const Row *row(int index) const;
    bool fetchPage(int page) const;
    // Rows of the result in its order (reversed when `descending`), read with
    // the conditions `where` (criteria and any key bound, parameters from
    // ?1 on, then `extra`).
    QList<Row> readRows(const QString &where, const QVariantList &extra, const QString &orderBy,
                        bool descending, int limit, int offset) const;
    // The criteria as SQL; "+" keeps SQLite from driving an index with any
    // but the criterion `driver` (-1: none; -2: SQLite's choice).
    QString criteriaSql(int driver) const;
    // The criterion whose index range is likely narrowest by its pattern
    // alone; -1 when none can drive an index.
    int staticDriver() const;
    // Among several criteria that can drive an index, the cheapest by its
    // row count bounded at `cap` (each count costs at most cap index steps),
    // a row that needs the table read costing more; ties go to the index
    // that judges more of the other criteria, then to staticDriver()'s pick.
    int measuredDriver(qint64 cap) const;
    bool canDrive(int i) const;
    void bindCriteria(Statement &s) const;
    bool fetchAfter(int page, const Row &anchor, QList<Row> *rows) const;
    bool fetchBefore(int page, const Row &anchor, QList<Row> *rows) const;
    QString keysetCondition(const Row &anchor, bool after, QVariantList *extra) const;
    void setPosition(int row);

    DirectoryKind m_kind;
    Store *m_store = nullptr;
    SearchQuery m_query;
    QString m_caption;
    QList<Criterion> m_criteria;
    int m_driver = -1;
    int m_count = 0;
    int m_position = -1;
    mutable QHash<int, QList<Row>> m_pages;
    mutable QList<int> m_pageOrder; // least recently used first
    mutable quint64 m_generation = 0;
    bool m_adding = false;
    QVariantList m_newValues;
};

} // namespace korvana
