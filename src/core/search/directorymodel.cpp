#include "core/search/directorymodel.h"

#include "core/search/recordsource.h"

namespace korvana {

DirectoryModel::DirectoryModel(RecordSource *source, QObject *parent)
    : QAbstractTableModel(parent), m_source(source), m_headings(headings(source->kind()))
{
    connect(source, &RecordSource::aboutToResetResult, this, [this] { beginResetModel(); });
    connect(source, &RecordSource::resultReset, this, [this] {
        m_currentRow = -1;
        resultChanged();
        endResetModel();
    });
    // The record selector marks the current row; repaint the old and new marks.
    connect(source, &RecordSource::repositioned, this, [this] {
        const int old = m_currentRow;
        m_currentRow = m_source->absolutePosition();
        if (old >= 0 && old < rowCount())
            Q_EMIT headerDataChanged(Qt::Vertical, old, old);
        if (m_currentRow >= 0 && m_currentRow != old)
            Q_EMIT headerDataChanged(Qt::Vertical, m_currentRow, m_currentRow);
    });
}

QStringList DirectoryModel::headings(DirectoryKind kind)
{
    if (kind == DirectoryKind::Enterprises)
        return {QStringLiteral("Предприятие"), QStringLiteral("Номер"), QStringLiteral("Примечание"),
                QStringLiteral("Улица"), QStringLiteral("Дом"), QStringLiteral(" "),
                QStringLiteral(" "), QStringLiteral(" ")};
    return {QStringLiteral("Номер"), QStringLiteral("Ф И О"), QStringLiteral("Улица"),
            QStringLiteral("Дом"), QString(), QStringLiteral("Кв."), QString()};
}

int DirectoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_source->recordCount();
}

int DirectoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_headings.size());
}

QVariant DirectoryModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return QVariant();
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        const QVariant v = m_source->value(index.row(), index.column());
        return v.isNull() ? QVariant(QString()) : v;
    }
    return QVariant();
}

QVariant DirectoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < m_headings.size() ? m_headings.at(section) : QVariant();
    return section == m_currentRow ? QStringLiteral("▶") : QString();
}

} // namespace korvana
