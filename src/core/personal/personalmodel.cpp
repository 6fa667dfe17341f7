#include "core/personal/personalmodel.h"

#include "core/search/recordsource.h"
#include "core/store/store.h"

#include <utility>

namespace korvana {

namespace {
constexpr int kDefaultColumn = 4;
}

PersonalModel::PersonalModel(RecordSource *source, QObject *parent)
    : DirectoryModel(source, parent)
{
    // Leaving the row writes it; so does a new search of the list, before
    // it is counted: the search would otherwise drop what was typed, or
    // count the list without it.
    connect(source, &RecordSource::repositioned, this, &PersonalModel::currentRowMoved);
    connect(source, &RecordSource::aboutToRefresh, this, [this] {
        if (m_submitting)
            return;
        collect();
        write(/*showNewEntry=*/false);
    });
}

bool PersonalModel::isNewRow(int row) const { return row == m_source->recordCount(); }

int PersonalModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_source->recordCount() + 1;
}

QVariant PersonalModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return QVariant();
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QVariant();
    if (index.row() == m_pendingRow && m_pending.contains(index.column()))
        return m_pending.value(index.column()).toString();
    if (isNewRow(index.row())) {
        if (index.row() == m_pendingRow && index.column() == kDefaultColumn)
            return newRowDefault();
        return QString();
    }
    return DirectoryModel::data(index, role);
}

QVariant PersonalModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical && role == Qt::DisplayRole) {
        if (section == m_pendingRow)
            return QStringLiteral("✎");
        if (isNewRow(section))
            return QStringLiteral("*");
    }
    return DirectoryModel::headerData(section, orientation, role);
}

Qt::ItemFlags PersonalModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = DirectoryModel::flags(index);
    if (index.isValid())
        f |= Qt::ItemIsEditable;
    return f;
}

bool PersonalModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return false;
    int row = index.row();
    if (m_pendingRow >= 0 && m_pendingRow != row) {
        // Writing the other row may search again: the typed cell's row is
        // found again by what it holds.
        const bool toNewRow = isNewRow(row);
        const qint64 id = toNewRow ? -1 : m_source->rowId(row);
        if (!write(/*showNewEntry=*/true))
            return false;
        row = toNewRow ? m_source->recordCount() : rowOf(id);
        if (row < 0)
            return false;
    }
    const QModelIndex at = this->index(row, index.column());
    if (data(at, Qt::EditRole).toString() == value.toString() && m_pendingRow != row)
        return true; // nothing typed: do not start a row edit
    if (m_pendingRow != row) {
        m_pendingRow = row;
        m_pendingId = isNewRow(row) ? -1 : m_source->rowId(row);
    }
    m_pending.insert(at.column(), value.toString());
    Q_EMIT dataChanged(at, at, {Qt::DisplayRole, Qt::EditRole});
    Q_EMIT headerDataChanged(Qt::Vertical, row, row);
    return true;
}

bool PersonalModel::submitPending()
{
    collect();
    return write(/*showNewEntry=*/true);
}

void PersonalModel::collect()
{
    if (m_collecting)
        return;
    m_collecting = true;
    Q_EMIT aboutToWrite();
    m_collecting = false;
}

bool PersonalModel::write(bool showNewEntry)
{
    if (m_pendingRow < 0)
        return true;
    const int row = m_pendingRow;
    const bool adding = m_pendingId < 0;
    bool ok;
    if (adding) {
        QVariantList all(columnCount());
        all[kDefaultColumn] = newRowDefault();
        for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it)
            all[it.key()] = it.value();
        ok = m_source->insertRow(all);
    } else {
        ok = m_source->editRow(row, m_pending);
    }
    if (!ok && m_source->writer() && m_source->writer()->lastWasConflict()) {
        // Changed or deleted elsewhere: the other change is shown, and what
        // the user typed is named in the message instead of kept over it.
        const QString reason = m_source->writeError();
        revertPending();
        m_source->refresh();
        Q_EMIT writeFailed(reason);
        return false;
    }
    if (!ok) {
        // Kept as typed: the user corrects it, or abandons it with Escape.
        rowChanged(row);
        Q_EMIT writeFailed(m_source->writeError());
        return false;
    }
    m_pendingRow = -1;
    m_pendingId = -1;
    m_pending.clear();
    if (adding && showNewEntry) {
        // Show the new entry where the current search puts it.
        m_submitting = true;
        m_source->refresh();
        m_submitting = false;
    } else if (adding) {
        rowChanged(row);
    } else {
        // The entry may sort elsewhere now, and every row after it moves.
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
        Q_EMIT headerDataChanged(Qt::Vertical, row, row);
    }
    return true;
}

void PersonalModel::rowChanged(int row)
{
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
    Q_EMIT headerDataChanged(Qt::Vertical, row, row);
}

int PersonalModel::rowOf(qint64 id) const
{
    // The personal list is the user's own, short enough to look through.
    for (int r = 0; r < m_source->recordCount(); ++r)
        if (m_source->rowId(r) == id)
            return r;
    return -1;
}

void PersonalModel::resultChanged()
{
    m_justReset = true;
    if (m_pendingRow < 0)
        return;
    // Only a row whose write was refused outlives a search. One the new
    // result leaves out cannot be shown; its failure has been reported.
    m_pendingRow = m_pendingId < 0 ? m_source->recordCount() : rowOf(m_pendingId);
    if (m_pendingRow < 0) {
        m_pendingId = -1;
        m_pending.clear();
    }
}

void PersonalModel::revertPending()
{
    if (m_pendingRow < 0)
        return;
    const int row = m_pendingRow;
    m_pendingRow = -1;
    m_pendingId = -1;
    m_pending.clear();
    rowChanged(row);
}

bool PersonalModel::removeEntry(int row)
{
    if (row < 0 || isNewRow(row))
        return false;
    const qint64 id = m_source->rowId(row);
    if (row == m_pendingRow) {
        revertPending();
    } else {
        collect();
        if (!write(/*showNewEntry=*/false))
            return false;
        row = rowOf(id); // a written change may have moved it
    }
    m_submitting = true;
    const bool ok = row >= 0 && m_source->deleteRow(row);
    m_submitting = false;
    if (!ok && m_source->writer() && m_source->writer()->lastWasConflict())
        m_source->refresh();
    if (!ok)
        Q_EMIT writeFailed(m_source->writeError());
    return ok;
}

void PersonalModel::currentRowMoved()
{
    // After a search the first row is current by itself: a refused row is
    // not tried again (and reported twice) for that.
    if (std::exchange(m_justReset, false) || m_submitting)
        return;
    if (m_pendingRow >= 0 && m_source->absolutePosition() != m_pendingRow)
        write(/*showNewEntry=*/true);
}

} // namespace korvana
