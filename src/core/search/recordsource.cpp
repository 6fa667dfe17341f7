#include "core/search/recordsource.h"

#include "core/store/store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>

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

void RecordSource::setQuery(const SearchQuery &query)
{
    m_query = query;
    m_criteria.clear();
    for (int i = 0; i < query.parameters.size() && i < query.columns.size(); ++i)
        m_criteria.append({query.columns.at(i), query.parameters.at(i), QString()});
    m_driver = staticDriver();
}

namespace {

// Results up to this size are sorted from the narrowest criterion's index
// range; larger ones are read in order from the sort index, skipping rows
// that miss a criterion. The two costs meet near sqrt(page rows x table rows).
int sortLimit(qint64 tableRows)
{
    return int(std::max<double>(2000.0, std::sqrt(64.0 * double(std::max<qint64>(tableRows, 0)))));
}

// Characters of a GLOB pattern before its first wildcard or class.
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

} // namespace

// Parameters ?33 on carry the value lists, ?49 on the literal parts of
// patterns; the criteria, key bounds and LIMIT/OFFSET never number that high.
constexpr int kValuesParam = 32;
constexpr int kPartParam = 48;

namespace {

// A pattern "*part*" or "?part*" whose part has no wildcard: the function
// that tests it ("kcontains", "kafterfirst"), or none, and the part.
QString partTest(const QString &pattern, QString *part)
{
    if (pattern.size() < 3 || !pattern.endsWith(u'*'))
        return QString();
    const QString middle = pattern.mid(1, pattern.size() - 2);
    if (middle.contains(u'*') || middle.contains(u'?') || middle.contains(u'['))
        return QString();
    *part = middle;
    if (pattern.startsWith(u'*'))
        return QStringLiteral("kcontains");
    if (pattern.startsWith(u'?'))
        return QStringLiteral("kafterfirst");
    return QString();
}

} // namespace

bool RecordSource::canDrive(int i) const
{
    const Criterion &c = m_criteria.at(i);
    return literalPrefix(c.pattern) > 0 || !c.values.isEmpty();
}

int RecordSource::staticDriver() const
{
    int best = -1;
    double bestScore = 0;
    for (int i = 0; i < m_criteria.size(); ++i) {
        if (!canDrive(i))
            continue;
        const QString &p = m_criteria.at(i).pattern;
        // A value list is scored by the pattern's literal characters, as a
        // prefix of that length would be.
        const int n = m_criteria.at(i).values.isEmpty()
            ? literalPrefix(p)
            : int(p.size() - p.count(u'*') - p.count(u'?'));
        // Digits narrow a result less per character than letters, and house
        // and flat numbers are short and crowd at their low values.
        const QString &c = m_criteria.at(i).column;
        const double score = c.endsWith(QLatin1String("_dom")) || c.endsWith(QLatin1String("_kvart"))
            ? n - 1.0
            : c == QLatin1String("k_n_tel")                      ? n - 0.5
                                                                 : double(n);
        if (best < 0 || score > bestScore) {
            best = i;
            bestScore = score;
        }
    }
    return best;
}

namespace {

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

} // namespace

int RecordSource::measuredDriver(qint64 cap) const
{
    const int fallback = staticDriver();
    int candidates = 0;
    for (int i = 0; i < m_criteria.size(); ++i)
        candidates += canDrive(i) ? 1 : 0;
    if (candidates < 2)
        return fallback;
    const QString table = tableInfo(m_kind).table;
    int best = fallback;
    qint64 bestCost = -1;
    int bestCovered = -1;
    for (int i = 0; i < m_criteria.size(); ++i) {
        if (!canDrive(i))
            continue;
        int covered = 0;
        for (int j = 0; j < m_criteria.size(); ++j)
            covered += j != i && indexCovers(m_criteria.at(i).column, m_criteria.at(j).column);
        // The criterion alone, on its own index.
        const Criterion &c = m_criteria.at(i);
        const QString condition = c.values.isEmpty()
            ? QStringLiteral("%1 GLOB ?1").arg(c.column)
            : QStringLiteral("%1 IN (SELECT value FROM json_each(?2) WHERE value GLOB ?1)")
                  .arg(c.column);
        Statement *s = m_store->statement(
            QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM %1 WHERE %2 LIMIT ?3)")
                .arg(table, condition));
        if (!s)
            return fallback;
        Statement::Use use(*s);
        s->bindText(1, c.pattern);
        if (!c.values.isEmpty())
            s->bindText(2, c.values);
        s->bindInt64(3, cap);
        if (s->step() != SQLITE_ROW)
            return fallback;
        // A row that the index cannot judge costs a table read, several
        // times an index step.
        const qint64 cost = s->columnInt64(0) * (covered == m_criteria.size() - 1 ? 1 : 8);
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

void RecordSource::bindCriteria(Statement &s) const
{
    for (int i = 0; i < m_criteria.size(); ++i) {
        s.bindText(i + 1, m_criteria.at(i).pattern);
        if (!m_criteria.at(i).values.isEmpty())
            s.bindText(kValuesParam + i + 1, m_criteria.at(i).values);
        else if (QString part; !partTest(m_criteria.at(i).pattern, &part).isEmpty())
            s.bindText(kPartParam + i + 1, part);
    }
}

QString RecordSource::criteriaSql(int driver) const
{
    QStringList out;
    for (int i = 0; i < m_criteria.size(); ++i) {
        const Criterion &c = m_criteria.at(i);
        const QString plus = i == driver || driver == -2 ? QString() : QStringLiteral("+");
        QString part;
        const QString test = c.values.isEmpty() ? partTest(c.pattern, &part) : QString();
        if (!test.isEmpty())
            out << QStringLiteral("%1(%2, ?%3)").arg(test, c.column).arg(kPartParam + i + 1);
        else if (c.values.isEmpty())
            out << QStringLiteral("%1%2 GLOB ?%3").arg(plus, c.column).arg(i + 1);
        else
            out << QStringLiteral("%1%2 IN (SELECT value FROM json_each(?%3) WHERE value GLOB ?%4)")
                       .arg(plus, c.column)
                       .arg(kValuesParam + i + 1)
                       .arg(i + 1);
    }
    return out.join(QStringLiteral(" AND "));
}

RecordSource::Outcome RecordSource::refresh()
{
    if (m_query.malformed)
        return Outcome::Malformed;
    if (m_query.kind != m_kind || m_query.invalid)
        return Outcome::Failed;

    qint64 count = 0;
    if (m_store) {
        for (Criterion &c : m_criteria) {
            if (c.column.startsWith(QLatin1String("kt_"))
                && !m_store->hasLeadingBlanks(m_kind, c.column.mid(3)))
                c.column = QStringLiteral("k_") + c.column.mid(3);
            // The personal directory may change under us (other tools edit
            // it), so no value list is kept for it.
            c.values = literalPrefix(c.pattern) == 0 && m_kind != DirectoryKind::Personal
                ? m_store->distinctValues(m_kind, c.column)
                : QString();
        }
        m_driver = measuredDriver(sortLimit(m_store->tableRowCount(m_kind)));
        if (m_query.where.isEmpty()) {
            count = m_store->tableRowCount(m_kind);
        } else if (m_criteria.size() == 1 && m_kind != DirectoryKind::Personal
                   && m_criteria.first().pattern.count(u'*') == m_criteria.first().pattern.size()) {
            // "*" alone matches every value that is there.
            count = m_store->nonNullCount(m_kind, m_criteria.first().column);
        } else {
            // With no index range to use, SQLite scans the narrowest index
            // that covers the criteria.
            const int d = m_driver;
            const QString where = QStringLiteral(" WHERE ") + criteriaSql(d < 0 ? -2 : d);
            Statement *s = m_store->statement(QStringLiteral("SELECT count(*) FROM %1%2")
                                                  .arg(tableInfo(m_kind).table, where));
            if (!s)
                return Outcome::Failed;
            Statement::Use use(*s);
            bindCriteria(*s);
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

    QList<Row> rows;
    bool done = false;
    // Scrolling a screen at a time: the next page starts after the last row
    // of the one before it (or ends before the first of the one after), an
    // index seek instead of skipping every row up to an offset. Kept to the
    // read-only directories, whose keys never change under a cached page.
    if (m_kind != DirectoryKind::Personal) {
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
        const QString head = QStringLiteral("SELECT rowid FROM %1").arg(tableInfo(m_kind).table);
        const int d = m_driver;
        const QString firstOrder = m_query.orderColumns.first();
        QString where;
        bool sortHere = false; // order by the columns, not from the sort index
        if (m_criteria.isEmpty()) {
        } else if (d >= 0 && m_criteria.at(d).column == firstOrder) {
            where = criteriaSql(d); // one index range gives rows and order
        } else if (d >= 0 && m_count <= sortLimit(m_store->tableRowCount(m_kind))) {
            where = criteriaSql(d);
            sortHere = true;
        } else if (d < 0 && m_count <= sortLimit(m_store->tableRowCount(m_kind))) {
            // Every pattern starts with a wildcard and few rows match: find
            // them by scanning a narrow covering index, then sort them.
            where = QStringLiteral("rowid IN (%1 WHERE %2)").arg(head, criteriaSql(-2));
            sortHere = true;
        } else {
            where = criteriaSql(-1);
            // A criterion on the first sort column (or its trimmed twin)
            // never matches NULL, and NULLs sort first: skip them by the index.
            for (const Criterion &c : m_criteria) {
                if (c.column == firstOrder || c.column == QStringLiteral("kt_") + firstOrder.mid(2)) {
                    where += QStringLiteral(" AND %1 IS NOT NULL").arg(firstOrder);
                    break;
                }
            }
        }
        QString orderBy = m_query.orderColumns.join(QStringLiteral(", "));
        if (sortHere)
            orderBy.prepend(u'+');
        rows = readRows(where, {}, orderBy, backwards, limit, offset);
        if (backwards)
            std::reverse(rows.begin(), rows.end());
    }
    while (m_pageOrder.size() >= kMaxPages)
        m_pages.remove(m_pageOrder.takeFirst());
    m_pages.insert(page, rows);
    return true;
}

// Keyset conditions: the result is ordered by the order columns, NULL
// first, then rowid; "after" (or "before") a key is the lexicographic
// comparison written out column by column (row values would compare NULL as
// unknown). Returns "" when the anchor cannot bound the page; the values the
// condition uses are appended to *extra, numbered after the criteria.
QString RecordSource::keysetCondition(const Row &anchor, bool after, QVariantList *extra) const
{
    const QStringList &cols = m_query.orderColumns;
    QVariantList values = anchor.key;
    values << anchor.rowid;
    if (values.size() != cols.size())
        return QString();
    const int base = int(m_criteria.size());
    auto param = [&](const QVariant &v) {
        *extra << v;
        return QStringLiteral("?%1").arg(base + extra->size());
    };
    QStringList terms;
    QStringList equal;
    for (int i = 0; i < cols.size(); ++i) {
        const QVariant &v = values.at(i);
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
    if (after && !values.first().isNull() && cols.size() > 1)
        where.prepend(QStringLiteral("%1 >= %2 AND ").arg(cols.first(), param(values.first())));
    if (!after && cols.size() > 1)
        where.prepend(values.first().isNull()
                          ? QStringLiteral("%1 IS NULL AND ").arg(cols.first())
                          : QStringLiteral("%1 <= %2 AND ").arg(cols.first(), param(values.first())));
    if (!m_criteria.isEmpty())
        where.prepend(criteriaSql(-1) + QStringLiteral(" AND "));
    return where;
}

bool RecordSource::fetchAfter(int page, const Row &anchor, QList<Row> *rows) const
{
    QVariantList extra;
    const QString where = keysetCondition(anchor, true, &extra);
    if (where.isEmpty())
        return false;
    const int limit = std::min(kPageSize, m_count - page * kPageSize);
    *rows = readRows(where, extra, m_query.orderColumns.join(QStringLiteral(", ")), false, limit, 0);
    return rows->size() == limit;
}

bool RecordSource::fetchBefore(int page, const Row &anchor, QList<Row> *rows) const
{
    QVariantList extra;
    const QString where = page < 0 ? QString() : keysetCondition(anchor, false, &extra);
    if (where.isEmpty())
        return false;
    *rows = readRows(where, extra, m_query.orderColumns.join(QStringLiteral(", ")), true, kPageSize, 0);
    std::reverse(rows->begin(), rows->end());
    return rows->size() == kPageSize;
}

QList<RecordSource::Row> RecordSource::readRows(const QString &where, const QVariantList &extra,
                                                const QString &orderBy, bool descending,
                                                int limit, int offset) const
{
    const TableInfo &t = tableInfo(m_kind);
    const QStringList &cols = m_query.orderColumns;
    const QStringList keyCols = cols.mid(0, cols.size() - 1); // rowid is read anyway
    QString order = orderBy;
    if (descending)
        order = orderBy.split(QStringLiteral(", ")).join(QStringLiteral(" DESC, "))
            + QStringLiteral(" DESC");
    const int n = int(m_criteria.size() + extra.size());
    QString sql = QStringLiteral("SELECT rowid, %1%2 FROM %3%4 ORDER BY %5 LIMIT ?%6")
                      .arg(t.fields.join(QStringLiteral(", ")),
                           keyCols.isEmpty() ? QString()
                                             : QStringLiteral(", ") + keyCols.join(QStringLiteral(", ")),
                           t.table, where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where,
                           order)
                      .arg(n + 1);
    if (offset > 0)
        sql += QStringLiteral(" OFFSET ?%1").arg(n + 2);
    QList<Row> rows;
    Statement *s = m_store->statement(sql);
    if (!s)
        return rows;
    Statement::Use use(*s);
    bindCriteria(*s);
    for (int i = 0; i < extra.size(); ++i) {
        if (extra.at(i).typeId() == QMetaType::LongLong)
            s->bindInt64(int(m_criteria.size()) + i + 1, extra.at(i).toLongLong());
        else
            s->bind(int(m_criteria.size()) + i + 1, extra.at(i));
    }
    s->bindInt64(n + 1, limit);
    if (offset > 0)
        s->bindInt64(n + 2, offset);
    rows.reserve(limit);
    while (s->step() == SQLITE_ROW) {
        Row r;
        r.rowid = s->columnInt64(0);
        for (int c = 0; c < t.fields.size(); ++c)
            r.values << s->column(c + 1);
        for (int c = 0; c < keyCols.size(); ++c)
            r.key << s->column(int(t.fields.size()) + c + 1);
        rows.append(std::move(r));
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
