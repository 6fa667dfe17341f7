#pragma once

#include "core/search/directorymodel.h"

#include <QHash>

namespace korvana {

// The personal grid's model: the rows of the personal record source plus one
// empty row at the end for a new entry. What the user types into a row is
// kept until the user leaves the row (or the list is searched again), then
// written in one go; Escape abandons the row's unwritten changes, and a new
// row abandoned that way disappears.
class PersonalModel : public DirectoryModel {
    Q_OBJECT
public:
    explicit PersonalModel(RecordSource *source, QObject *parent = nullptr);

    // The text a new row's column 4 starts with.
    static QString newRowDefault() { return QStringLiteral("\"  \""); }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    bool hasPendingRow() const { return m_pendingRow >= 0; }
    int pendingRow() const { return m_pendingRow; }
    bool isNewRow(int row) const;

    // Writes the row being edited. False (and writeFailed) when the store
    // refuses it; the row's changes are then dropped and the file is unchanged.
    bool submitPending();
    void revertPending();
    // Deletes a stored row (never the new row).
    bool removeEntry(int row);

Q_SIGNALS:
    void writeFailed(const QString &reason);

private:
    void currentRowMoved();

    int m_pendingRow = -1;
    QHash<int, QVariant> m_pending; // column -> typed value
    bool m_submitting = false;
};

} // namespace korvana
