#include "core/search/recordsource.h"

#include "core/search/plansql.h"
#include "core/search/searchimages.h"
#include "core/store/store.h"

#include <sqlite3.h>

#include <algorithm>

namespace korvana {

RecordSource::RecordSource(DirectoryKind kind, QObject *parent)
    : QObject(parent), m_kind(kind), m_query(wholeTableQuery(kind))
{
    m_caption = QStringLiteral("Data%1").arg(int(kind));
}

RecordSource::~RecordSource() = default;

void RecordSource::setStore(Store *store)
{
    m_store = store;
    dropPages();
}

void RecordSource::setQuery(const SearchQuery &query) { m_query = query; }

RecordSource::Outcome RecordSource::refresh()
{
    if (m_query.malformed)
        return Outcome::Malformed;
    if (m_query.kind != m_kind || m_query.invalid)
        return Outcome::Failed;
    Q_EMIT aboutToRefresh();

    qint64 count = 0;
    SearchPlan plan;
    std::unique_ptr<ImageResult> imageResult;
    if (m_store) {
        // Another program's writes are looked for once per search, in every
        // directory (one PRAGMA while nothing changed).
        m_store->noticeOutsideWrites();
        // One snapshot for the whole search: the table's image as it is now,
        // or none (then SQLite answers); planning, counting and paging all
        // use this one, whatever is built or dropped meanwhile.
        const std::shared_ptr<const SearchImage> image = m_images ? m_images->image(m_kind) : nullptr;
        StoreStatistics stats(m_store, image);
        plan = QueryPlanner::plan(m_query, stats);
        switch (plan.count) {
        case SearchPlan::Count::WholeTable: count = stats.tableRows(m_kind); break;
        case SearchPlan::Count::NonNull:
            count = m_store->nonNullCount(m_kind, plan.criteria.first().tested);
            break;
        case SearchPlan::Count::Statement: {
            Statement *s = m_store->statement(PlanSql::count(plan));
            if (!s)
                return Outcome::Failed;
            Statement::Use use(*s);
            PlanSql::bindCriteria(*s, plan);
            count = s->step() == SQLITE_ROW ? s->columnInt64(0) : -1;
            break;
        }
        case SearchPlan::Count::Image: break;
        }
        if (count < 0)
            return Outcome::Failed;
        QueryPlanner::planRows(plan, count);
        if (plan.rows == SearchPlan::Rows::Image) {
            // The planner took the image only for what it answers.
            QList<QPair<QString, QString>> criteria;
            for (const PlanCriterion &c : plan.criteria)
                criteria.append({c.column, c.pattern});
            imageResult = SearchImage::search(image, criteria, plan.orderColumns);
            if (!imageResult)
                return Outcome::Failed;
            count = imageResult->count();
        }
    }

    Q_EMIT aboutToResetResult();
    dropPages();
    m_plan = plan;
    m_imageResult = std::move(imageResult);
    m_count = int(std::min<qint64>(count, std::numeric_limits<int>::max()));
    m_position = m_count > 0 ? 0 : -1;
    m_adding = false;
    Q_EMIT resultReset();
    Q_EMIT repositioned();
    return Outcome::Ok;
}

void RecordSource::dropPages()
{
    m_pages.clear();
    m_pageOrder.clear();
}

void RecordSource::setCaption(const QString &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    Q_EMIT captionChanged(caption);
}

void RecordSource::setPosition(int row)
{
    m_position = row;
    Q_EMIT repositioned();
}

void RecordSource::moveFirst() { setPosition(m_count > 0 ? 0 : -1); }

void RecordSource::moveLast() { setPosition(m_count - 1); }

void RecordSource::moveNext()
{
    if (m_count == 0)
        return setPosition(-1);
    // Past the last record there is no current record, as with the data
    // engine's end-of-file position; a further move stays there.
    setPosition(m_position < 0 || m_position >= m_count - 1 ? (m_position < 0 ? 0 : -1)
                                                             : m_position + 1);
}

void RecordSource::movePrevious()
{
    if (m_count == 0)
        return setPosition(-1);
    setPosition(m_position < 0 ? m_count - 1 : m_position - 1);
}

void RecordSource::moveTo(int row)
{
    if (row < 0 || row >= m_count)
        row = -1;
    if (row != m_position)
        setPosition(row);
}

QVariant RecordSource::fieldValue(const QString &field) const
{
    const QStringList &fields = tableInfo(m_kind).fields;
    for (int c = 0; c < fields.size(); ++c)
        if (fields.at(c).compare(field, Qt::CaseInsensitive) == 0)
            return value(m_position, c);
    return QVariant();
}

QVariant RecordSource::value(int row, int column) const
{
    const Row *r = this->row(row);
    if (!r || column < 0 || column >= r->values.size())
        return QVariant();
    return r->values.at(column);
}

qint64 RecordSource::rowId(int row) const
{
    const Row *r = this->row(row);
    return r ? r->rowid : -1;
}

int RecordSource::cachedRowCount() const
{
    int n = 0;
    for (const auto &page : m_pages)
        n += int(page.size());
    return n;
}

const RecordSource::Row *RecordSource::row(int index) const
{
    if (index < 0 || index >= m_count || !m_store)
        return nullptr;
    const int page = index / kPageSize;
    if (!m_pages.contains(page) && !fetchPage(page))
        return nullptr;
    m_pageOrder.removeOne(page);
    m_pageOrder.append(page);
    const QList<Row> &rows = m_pages[page];
    const int offset = index % kPageSize;
    return offset < rows.size() ? &rows.at(offset) : nullptr;
}

bool RecordSource::fetchPage(int page) const
{
    const int first = page * kPageSize;
    const int limit = std::min(kPageSize, m_count - first);
    if (limit <= 0)
        return false;

    QList<Row> rows;
    bool done = false;
    if (m_plan.rows == SearchPlan::Rows::Image && m_imageResult) {
        rows = readImageRows(first, limit);
        done = true;
    } else if (m_kind != DirectoryKind::Personal) {
        // Scrolling a screen at a time: the next page starts after the last
        // row of the one before it (or ends before the first of the one
        // after), an index seek instead of skipping every row up to an
        // offset. Kept to the read-only directories, whose keys never change
        // under a cached page.
        const auto before = m_pages.constFind(page - 1);
        const auto after = m_pages.constFind(page + 1);
        if (before != m_pages.constEnd() && before->size() == kPageSize)
            done = fetchAfter(page, before->last(), &rows);
        else if (after != m_pages.constEnd() && !after->isEmpty())
            done = fetchBefore(page, after->first(), &rows);
    }
    if (!done) {
        // Pages in the second half are read backwards from the end, so that
        // the skipped rows never exceed half the result.
        const bool backwards = first + limit / 2 > m_count / 2;
        const int offset = backwards ? m_count - first - limit : first;
        QString orderBy;
        const QString where = PlanSql::pageWhere(m_plan, &orderBy);
        rows = readRows(PlanSql::rows(m_plan, where, 0, orderBy, backwards, offset > 0), {}, limit,
                        offset);
        if (backwards)
            std::reverse(rows.begin(), rows.end());
    }
    while (m_pageOrder.size() >= kMaxPages)
        m_pages.remove(m_pageOrder.takeFirst());
    m_pages.insert(page, rows);
    return true;
}

bool RecordSource::fetchAfter(int page, const Row &anchor, QList<Row> *rows) const
{
    QVariantList extra;
    const QString where = PlanSql::keyset(m_plan, anchor.key, true, &extra);
    if (where.isEmpty())
        return false;
    const int limit = std::min(kPageSize, m_count - page * kPageSize);
    const QString order = m_plan.orderColumns.join(QStringLiteral(", "));
    *rows = readRows(PlanSql::rows(m_plan, where, int(extra.size()), order, false, false), extra, limit, 0);
    return rows->size() == limit;
}

bool RecordSource::fetchBefore(int page, const Row &anchor, QList<Row> *rows) const
{
    QVariantList extra;
    const QString where = page < 0 ? QString() : PlanSql::keyset(m_plan, anchor.key, false, &extra);
    if (where.isEmpty())
        return false;
    const QString order = m_plan.orderColumns.join(QStringLiteral(", "));
    *rows = readRows(PlanSql::rows(m_plan, where, int(extra.size()), order, true, false), extra,
                     kPageSize, 0);
    std::reverse(rows->begin(), rows->end());
    return rows->size() == kPageSize;
}

namespace {

// A row of a PlanSql::rows() or rowById() statement: rowid, the fields,
// then the order columns but rowid.
template<typename Row>
Row rowOf(Statement &s, int fields)
{
    Row r;
    r.rowid = s.columnInt64(0);
    for (int c = 0; c < fields; ++c)
        r.values << s.column(c + 1);
    for (int c = fields + 1; c < s.columnCount(); ++c)
        r.key << s.column(c);
    r.key << r.rowid;
    return r;
}

} // namespace

QList<RecordSource::Row> RecordSource::readRows(const QString &sql, const QVariantList &extra,
                                                int limit, int offset) const
{
    QList<Row> rows;
    Statement *s = m_store->statement(sql);
    if (!s)
        return rows;
    Statement::Use use(*s);
    PlanSql::bindCriteria(*s, m_plan);
    const int n = int(m_plan.criteria.size());
    for (int i = 0; i < extra.size(); ++i) {
        if (extra.at(i).typeId() == QMetaType::LongLong)
            s->bindInt64(n + i + 1, extra.at(i).toLongLong());
        else
            s->bind(n + i + 1, extra.at(i));
    }
    s->bindInt64(n + int(extra.size()) + 1, limit);
    if (offset > 0)
        s->bindInt64(n + int(extra.size()) + 2, offset);
    rows.reserve(limit);
    const int fields = int(tableInfo(m_kind).fields.size());
    while (s->step() == SQLITE_ROW)
        rows.append(rowOf<Row>(*s, fields));
    return rows;
}

// An image gives the rowids in order; each row is one seek by rowid.
QList<RecordSource::Row> RecordSource::readImageRows(int first, int limit) const
{
    QList<Row> rows;
    Statement *s = m_store->statement(PlanSql::rowById(m_plan));
    if (!s)
        return rows;
    const int fields = int(tableInfo(m_kind).fields.size());
    rows.reserve(limit);
    for (int p = first; p < first + limit; ++p) {
        Statement::Use use(*s);
        s->bindInt64(1, m_imageResult->rowIdAt(p));
        if (s->step() == SQLITE_ROW)
            rows.append(rowOf<Row>(*s, fields));
    }
    return rows;
}

void RecordSource::addNew()
{
    m_adding = true;
    m_newValues = QVariantList(tableInfo(m_kind).fields.size());
}

void RecordSource::setField(const QString &field, const QVariant &value)
{
    if (!m_adding)
        return;
    const QStringList &fields = tableInfo(m_kind).fields;
    for (int c = 0; c < fields.size(); ++c)
        if (fields.at(c).compare(field, Qt::CaseInsensitive) == 0)
            m_newValues[c] = value;
}

bool RecordSource::update()
{
    if (!m_adding || !m_store)
        return false;
    m_adding = false;
    return insertRow(m_newValues);
}

QString RecordSource::writeError() const
{
    return m_writer ? m_writer->lastError() : m_store ? m_store->lastError() : QString();
}

bool RecordSource::editRow(int row, const QHash<int, QVariant> &values)
{
    const Row *r = this->row(row);
    const QStringList &fields = tableInfo(m_kind).fields;
    if (r && m_writer) {
        const bool ok = m_writer->editRow(r->rowid, values);
        dropPages(); // the store holds the writer's row now, stored or not
        return ok;
    }
    if (!r || !m_store || !m_store->begin())
        return false;
    const qint64 id = r->rowid;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (it.key() < 0 || it.key() >= fields.size()
            || !m_store->updateField(m_kind, id, fields.at(it.key()), it.value())) {
            m_store->rollback();
            return false;
        }
    }
    if (!m_store->commit()) {
        m_store->rollback();
        return false;
    }
    // Later pages are read by their place in the new order; a patched page
    // would disagree with them.
    dropPages();
    return true;
}

bool RecordSource::insertRow(const QVariantList &values)
{
    if (m_writer)
        return m_writer->insertRow(values);
    return m_store && m_store->insertRow(m_kind, values);
}

bool RecordSource::deleteRow(int row)
{
    const qint64 id = rowId(row);
    if (id < 0 || !(m_writer ? m_writer->deleteRow(id) : m_store->deleteRow(m_kind, id)))
        return false;
    refresh();
    if (m_count > 0)
        moveTo(std::min(row, m_count - 1));
    return true;
}

} // namespace korvana
