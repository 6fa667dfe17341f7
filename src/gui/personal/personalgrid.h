#pragma once

#include "core/store/directorykind.h"

#include <QObject>

class QWidget;

namespace korvana {

class DirectoryGrid;
class Directories;
class MainWindow;
class Store;

// The personal directory in the window: a double-click on a residents' or
// enterprises' entry copies it there after a question; in its own grid
// Escape abandons the row being edited and Delete removes an entry after a
// question; a refused write is reported, the row kept as typed.
class PersonalGrid : public QObject {
    Q_OBJECT
public:
    // `store` may be null (no directory file): then every write is refused.
    PersonalGrid(MainWindow &window, Directories &directories, Store *store,
                 QObject *parent = nullptr);

    // What the personal grid's open cell editor holds goes into the model.
    void commitOpenEditor();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void copyFrom(DirectoryKind source);

    MainWindow &m_window;
    Directories &m_directories;
    Store *m_store;
    // What the filter watches, kept so that events sent while the window
    // is being destroyed are told apart without asking the window.
    QObject *m_residentsViewport;
    QObject *m_enterprisesViewport;
    DirectoryGrid *m_personalGrid;
};

} // namespace korvana
