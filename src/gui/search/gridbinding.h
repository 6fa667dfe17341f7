#pragma once

#include <QObject>

class QTableView;

namespace korvana {

class DirectoryModel;
class RecordSource;

// Binds a grid to a record source: the grid shows the source's result
// through a DirectoryModel, a row chosen in the grid becomes the source's
// current record, and a move of the source selects its row in the grid.
class GridBinding : public QObject {
    Q_OBJECT
public:
    // The binding takes `model` (over `source`) as the grid's model.
    GridBinding(QTableView *grid, RecordSource *source, DirectoryModel *model,
                QObject *parent = nullptr);

    DirectoryModel *model() const { return m_model; }

private:
    void showCurrent();

    QTableView *m_grid;
    RecordSource *m_source;
    DirectoryModel *m_model;
    bool m_syncing = false;
};

} // namespace korvana
