#include "gui/search/gridbinding.h"

#include "core/search/directorymodel.h"
#include "core/search/recordsource.h"

#include <QItemSelectionModel>
#include <QTableView>

namespace korvana {

GridBinding::GridBinding(QTableView *grid, RecordSource *source, DirectoryModel *model,
                         QObject *parent)
    : QObject(parent), m_grid(grid), m_source(source), m_model(model)
{
    grid->setModel(m_model);
    grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) {
                if (m_syncing || !current.isValid())
                    return;
                m_syncing = true;
                m_source->moveTo(current.row());
                m_syncing = false;
            });
    connect(source, &RecordSource::repositioned, this, &GridBinding::showCurrent);
}

void GridBinding::showCurrent()
{
    if (m_syncing)
        return;
    m_syncing = true;
    const int row = m_source->absolutePosition();
    QItemSelectionModel *selection = m_grid->selectionModel();
    if (row < 0) {
        selection->clearCurrentIndex();
    } else {
        const int column = std::max(0, selection->currentIndex().column());
        const QModelIndex index = m_model->index(row, column);
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        m_grid->scrollTo(index);
    }
    m_syncing = false;
}

} // namespace korvana
