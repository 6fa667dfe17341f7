#pragma once

#include "core/search/queryplanner.h"
#include "core/search/searchquery.h"
#include "core/store/directorykind.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QVariant>

#include <memory>

namespace korvana {

class ImageResult;
class SearchImages;
class Store;

// Where a directory's writes go when the store is only a mirror of them
// (an office keeps «Мой» on its server). Rows are named by their rowid in
// the store, which the writer keeps equal to its own.
class RecordWriter {
public:
    virtual ~RecordWriter() = default;
    virtual bool insertRow(const QVariantList &values) = 0;
    virtual bool editRow(qint64 rowid, const QHash<int, QVariant> &values) = 0;
    virtual bool deleteRow(qint64 rowid) = 0;
    virtual QString lastError() const = 0;
    // The last refusal was the row changed elsewhere: the store now shows
    // that row, and the refused values are named in lastError().
    virtual bool lastWasConflict() const = 0;
};

// One record source: the result of a query on one directory table and a
// current record in it. The result is never held whole: the planner says
// how the exact count is found and the rows are read, and rows are fetched
// a page at a time as the grid shows them, into a small cache.
class RecordSource : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Ok, Malformed, Failed };

    RecordSource(DirectoryKind kind, QObject *parent = nullptr);
    ~RecordSource() override;

    DirectoryKind kind() const { return m_kind; }
    // A null store gives an empty directory (the database could not be opened).
    void setStore(Store *store);
    Store *store() const { return m_store; }
    // Writes go to `writer` instead of the store (none: to the store).
    void setWriter(RecordWriter *writer) { m_writer = writer; }
    RecordWriter *writer() const { return m_writer; }
    // Why the last write was refused.
    QString writeError() const;
    // The in-memory images that answer searches once they are ready; none
    // (the default) leaves every search to SQLite.
    void setImages(SearchImages *images) { m_images = images; }

    void setQuery(const SearchQuery &query);
    const SearchQuery &query() const { return m_query; }
    QString queryText() const { return m_query.text; }

    // Runs the query: aboutToRefresh() before anything is read (a pending
    // write done there is counted), exact count, first row current (none
    // when empty), then resultReset() and repositioned().
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
    // Changes several fields of one row at once: all are stored or none.
    // The changed row may sort elsewhere, so every cached page is dropped.
    bool editRow(int row, const QHash<int, QVariant> &values);
    // Stores a new row from values by column; all or nothing.
    bool insertRow(const QVariantList &values);
    bool deleteRow(int row);

    int pageSize() const { return kPageSize; }
    int cachedRowCount() const;
    // How the last refresh answered (what the benchmark and tests look at).
    const SearchPlan &plan() const { return m_plan; }

Q_SIGNALS:
    void aboutToRefresh();
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
        QVariantList key; // the order columns and rowid, for keyset paging
    };
    const Row *row(int index) const;
    bool fetchPage(int page) const;
    // Rows by a statement of PlanSql::rows(): criteria bound from ?1, then
    // `extra`, LIMIT and OFFSET (when `offset` > 0).
    QList<Row> readRows(const QString &sql, const QVariantList &extra, int limit, int offset) const;
    QList<Row> readImageRows(int first, int limit) const;
    bool fetchAfter(int page, const Row &anchor, QList<Row> *rows) const;
    bool fetchBefore(int page, const Row &anchor, QList<Row> *rows) const;
    void setPosition(int row);
    void dropPages();

    DirectoryKind m_kind;
    Store *m_store = nullptr;
    RecordWriter *m_writer = nullptr;
    SearchImages *m_images = nullptr;
    SearchQuery m_query;
    QString m_caption;
    SearchPlan m_plan;
    std::unique_ptr<ImageResult> m_imageResult; // when the plan reads rows from an image
    int m_count = 0;
    int m_position = -1;
    mutable QHash<int, QList<Row>> m_pages;
    mutable QList<int> m_pageOrder; // least recently used first
    bool m_adding = false;
    QVariantList m_newValues;
};

} // namespace korvana
