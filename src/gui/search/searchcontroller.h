#pragma once

#include "core/search/searchquery.h"

#include <QObject>

#include <array>

class QComboBox;
class QLabel;
class QLineEdit;
class QTabBar;
class QTableView;
class QToolButton;
class QAbstractButton;
class QWidget;

namespace korvana {

class RecordSource;

// Searching as the user types: the five criterion fields, the clear button,
// the tabs and the position display, wired onto the main window's controls
// (found by their object names). It owns `SortField` and `CurrentTab`.
class SearchController : public QObject {
    Q_OBJECT
public:
    SearchController(QWidget *window, const std::array<RecordSource *, 3> &sources,
                     QObject *parent = nullptr);

    int sortField() const { return m_sortField; }
    void setSortField(int field) { m_sortField = field; }
    int currentTab() const { return m_currentTab; }
    void setCurrentTab(int tab) { m_currentTab = tab; }

    SearchCriteria criteria() const;
    RecordSource *source(int tab) const;

    // Reads the fields, builds the query of the selected tab, runs it and
    // shows it; a malformed query brings its message and the mend.
    void runSearch();
    // How many searches have run (tests check that a refused change ran none).
    int searchCount() const { return m_searchCount; }

    // The tick of the window timer: the clear button follows the criteria.
    void tick();
    void clearCriteria();
    void tabChosen(int index);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fieldChanged(int field);
    void repositioned(RecordSource *source);

    QWidget *m_window;
    std::array<RecordSource *, 3> m_sources;
    std::array<QLineEdit *, 5> m_fields{};
    QTabBar *m_tabs = nullptr;
    QAbstractButton *m_clear = nullptr;
    QLabel *m_count = nullptr;
    QComboBox *m_commy = nullptr;
    std::array<QTableView *, 3> m_grids{};
    int m_sortField = 1;
    int m_currentTab = 1;
    int m_searchCount = 0;
};

} // namespace korvana
