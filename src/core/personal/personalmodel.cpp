#include "core/personal/personalmodel.h"

#include "core/search/recordsource.h"
#include "core/store/store.h"

namespace korvana {

namespace {
constexpr int kDefaultColumn = 4;
}

PersonalModel::PersonalModel(RecordSource *source, QObject *parent)
    : DirectoryModel(source, parent)
{
    // Leaving the row writes it; so does a new search of the list, which
    // would otherwise drop what was typed.
    connect(source, &RecordSource::repositioned, this, &PersonalModel::currentRowMoved);
    connect(source, &RecordSource::aboutToResetResult, this, [this] {
        if (!m_submitting)
            submitPending();
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
    if (m_pendingRow >= 0 && m_pendingRow != index.row() && !submitPending())
        return false;
    if (data(index, Qt::EditRole).toString() == value.toString() && m_pendingRow != index.row())
        return true; // nothing typed: do not start a row edit
    m_pendingRow = index.row();
    m_pending.insert(index.column(), value.toString());
    Q_EMIT dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    Q_EMIT headerDataChanged(Qt::Vertical, index.row(), index.row());
    return true;
}

bool PersonalModel::submitPending()
{
    if (m_pendingRow < 0)
        return true;
    const int row = m_pendingRow;
    const QHash<int, QVariant> values = m_pending;
    m_pendingRow = -1;
    m_pending.clear();

    bool ok;
    if (isNewRow(row)) {
        QVariantList all(columnCount());
        all[kDefaultColumn] = newRowDefault();
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            all[it.key()] = it.value();
        ok = m_source->insertRow(all);
        if (ok) {
            // Show the new entry where the current search puts it.
            m_submitting = true;
            m_source->refresh();
            m_submitting = false;
        }
    } else {
        ok = m_source->editRow(row, values);
    }
    if (!ok) {
        const QString reason = m_source->store() ? m_source->store()->lastError() : QString();
        Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
        Q_EMIT headerDataChanged(Qt::Vertical, row, row);
        Q_EMIT writeFailed(reason);
        return false;
    }
    if (!isNewRow(row) || row < rowCount()) {
        Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
        Q_EMIT headerDataChanged(Qt::Vertical, row, row);
    }
    return true;
}

void PersonalModel::revertPending()
{
    if (m_pendingRow < 0)
        return;
    const int row = m_pendingRow;
    m_pendingRow = -1;
    m_pending.clear();
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
    Q_EMIT headerDataChanged(Qt::Vertical, row, row);
}

bool PersonalModel::removeEntry(int row)
{
    if (row < 0 || isNewRow(row))
        return false;
    if (row == m_pendingRow)
        revertPending();
    else if (!submitPending())
        return false;
    m_submitting = true;
    const bool ok = m_source->deleteRow(row);
    m_submitting = false;
    if (!ok)
        Q_EMIT writeFailed(m_source->store() ? m_source->store()->lastError() : QString());
    return ok;
}

void PersonalModel::currentRowMoved()
{
    if (m_pendingRow >= 0 && m_source->absolutePosition() != m_pendingRow && !m_submitting)
        submitPending();
}

} // namespace korvana
