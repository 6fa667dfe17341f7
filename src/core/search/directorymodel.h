#pragma once

#include "core/store/directorykind.h"

#include <QAbstractTableModel>
#include <QStringList>

namespace korvana {

class RecordSource;

// Table model over a record source for the directory grids. It holds no rows
// of its own: every cell is read through the record source's page cache, so
// a view asks only for the rows it shows.
class DirectoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit DirectoryModel(RecordSource *source, QObject *parent = nullptr);

    // Column headings of a directory's grid, left to right.
    static QStringList headings(DirectoryKind kind);

    RecordSource *source() const { return m_source; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

protected:
    // The source holds its new result and the views have not asked yet.
    virtual void resultChanged() {}

    RecordSource *m_source;

private:
    QStringList m_headings;
    int m_currentRow = -1;
};

} // namespace korvana
