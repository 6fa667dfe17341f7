#include "recordsource.h"

#include "store.h"

#include <sqlite3.h>

#include <algorithm>

namespace korvana {

RecordSource::RecordSource(DirectoryKind kind, QObject *parent)
    : QObject(parent), m_kind(kind), m_query(wholeTableQuery(kind))
{
    m_caption = QStringLiteral("Data%1").arg(int(kind));
}

void RecordSource::setStore(Store *store)
{
    m_store = store;
    m_pages.clear();
    m_pageOrder.clear();
}

void RecordSource::setQuery(const SearchQuery &query) { m_query = query; }

RecordSource::Outcome RecordSource::refresh()
{
    if (m_query.malformed)
        return Outcome::Malformed;
    if (m_query.kind != m_kind || m_query.invalid)
        return Outcome::Failed;

    qint64 count = 0;
    if (m_store) {
        if (m_query.where.isEmpty()) {
            count = m_store->tableRowCount(m_kind);
        } else {
            Statement *s = m_store->statement(QStringLiteral("SELECT count(*) FROM %1%2")
                                                  .arg(tableInfo(m_kind).table, m_query.where));
            if (!s)
                return Outcome::Failed;
            Statement::Use use(*s);
            for (int i = 0; i < m_query.parameters.size(); ++i)
                s->bindText(i + 1, m_query.parameters.at(i));
            count = s->step() == SQLITE_ROW ? s->columnInt64(0) : -1;
        }
        if (count < 0)
            return Outcome::Failed;
    }

    Q_EMIT aboutToResetResult();
    m_pages.clear();
    m_pageOrder.clear();
    m_count = int(std::min<qint64>(count, std::numeric_limits<int>::max()));
    m_position = m_count > 0 ? 0 : -1;
    m_adding = false;
    Q_EMIT resultReset();
    Q_EMIT repositioned();
    return Outcome::Ok;
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
    // Pages in the second half are read backwards from the end, so that the
    // skipped rows never exceed half the result.
    const bool backwards = first + limit / 2 > m_count / 2;
    const int offset = backwards ? m_count - first - limit : first;

    const TableInfo &t = tableInfo(m_kind);
    QStringList order;
    for (const QString &c : m_query.orderColumns)
        order << (backwards ? c + QStringLiteral(" DESC") : c);
    const int n = int(m_query.parameters.size());
    const QString sql = QStringLiteral("SELECT rowid, %1 FROM %2%3 ORDER BY %4 LIMIT ?%5 OFFSET ?%6")
                            .arg(t.fields.join(QStringLiteral(", ")), t.table, m_query.where,
                                 order.join(QStringLiteral(", ")))
                            .arg(n + 1)
                            .arg(n + 2);
    Statement *s = m_store->statement(sql);
    if (!s)
        return false;
    Statement::Use use(*s);
    for (int i = 0; i < n; ++i)
        s->bindText(i + 1, m_query.parameters.at(i));
    s->bindInt64(n + 1, limit);
    s->bindInt64(n + 2, offset);
    QList<Row> rows;
    rows.reserve(limit);
    while (s->step() == SQLITE_ROW) {
        Row r;
        r.rowid = s->columnInt64(0);
        for (int c = 0; c < t.fields.size(); ++c)
            r.values << s->column(c + 1);
        rows.append(std::move(r));
    }
    if (backwards)
        std::reverse(rows.begin(), rows.end());
    while (m_pageOrder.size() >= kMaxPages)
        m_pages.remove(m_pageOrder.takeFirst());
    m_pages.insert(page, rows);
    return true;
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
    return m_store->insertRow(m_kind, m_newValues);
}

bool RecordSource::editField(int row, int column, const QVariant &value)
{
    const Row *r = this->row(row);
    const QStringList &fields = tableInfo(m_kind).fields;
    if (!r || column < 0 || column >= fields.size())
        return false;
    if (!m_store->updateField(m_kind, r->rowid, fields.at(column), value))
        return false;
    // The row keeps its place until the next search, as users expect of an edit.
    m_pages[row / kPageSize][row % kPageSize].values[column] = value;
    return true;
}

bool RecordSource::editRow(int row, const QHash<int, QVariant> &values)
{
    const Row *r = this->row(row);
    const QStringList &fields = tableInfo(m_kind).fields;
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
    QList<Row> &page = m_pages[row / kPageSize];
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        page[row % kPageSize].values[it.key()] = it.value();
    return true;
}

bool RecordSource::insertRow(const QVariantList &values)
{
    return m_store && m_store->insertRow(m_kind, values);
}

bool RecordSource::deleteRow(int row)
{
    const qint64 id = rowId(row);
    if (id < 0 || !m_store->deleteRow(m_kind, id))
        return false;
    refresh();
    if (m_count > 0)
        moveTo(std::min(row, m_count - 1));
    return true;
}

} // namespace korvana
