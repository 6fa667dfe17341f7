#pragma once

#include "core/search/directorymodel.h"

#include <QHash>

namespace korvana {

// The personal grid's model: the rows of the personal record source plus one
// empty row at the end for a new entry. What the user types into a row is
// kept until the user leaves the row (or the list is searched again), then
// written in one go; Escape abandons the row's unwritten changes, and a new
// row abandoned that way disappears. A row the store refused stays pending
// through searches, found again by its rowid.
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

    // Writes the row being edited, with what an open cell editor holds
    // (aboutToWrite() collects it). False (and writeFailed) when the store
    // refuses it: the row then stays pending with its values, the file
    // unchanged, until it is written or abandoned.
    bool submitPending();
    void revertPending();
    // Deletes a stored row (never the new row).
    bool removeEntry(int row);

Q_SIGNALS:
    // Before a write the user did not ask for by leaving the row: the cell
    // editor still open hands its text to the model now.
    void aboutToWrite();
    void writeFailed(const QString &reason);

protected:
    void resultChanged() override;

private:
    // `showNewEntry`: search again after a new entry is stored, unless the
    // caller is about to.
    bool write(bool showNewEntry);
    void collect();
    int rowOf(qint64 id) const; // -1 when the result does not hold it
    void currentRowMoved();
    void rowChanged(int row);

    int m_pendingRow = -1;
    qint64 m_pendingId = -1;        // the stored entry being changed; -1 for the new row
    QHash<int, QVariant> m_pending; // column -> typed value
    bool m_submitting = false;
    bool m_collecting = false;
    bool m_justReset = false; // the next move is the new result's, not the user's
};

} // namespace korvana
