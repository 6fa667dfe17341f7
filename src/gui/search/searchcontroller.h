#pragma once

#include "core/search/searchquery.h"

#include <QObject>

namespace korvana {

class Directories;
class MainWindow;
struct SearchPanel;

// Searching as the user types: the five criterion fields, the clear button,
// the tabs and the position display. It owns `SortField` and `CurrentTab`.
class SearchController : public QObject {
    Q_OBJECT
public:
    // Works on the window's search panel and writes the current entry into
    // its dial box; messages are shown over the window.
    SearchController(MainWindow &window, Directories &directories, QObject *parent = nullptr);

    SortField sortField() const { return m_sortField; }
    void setSortField(SortField field) { m_sortField = field; }
    DirectoryKind currentTab() const { return m_currentTab; }
    void setCurrentTab(DirectoryKind tab) { m_currentTab = tab; }

    SearchCriteria criteria() const;

    // Reads the fields, builds the query of the selected tab, runs it and
    // shows it; a malformed query brings its message and the mend.
    void runSearch();
    // How many searches have run (tests check that a refused change ran none).
    int searchCount() const { return m_searchCount; }

    // The tick of the window timer: the clear button follows the criteria.
    void tick();
    void clearCriteria();
    void tabChosen(DirectoryKind tab);

private:
    void fieldEntered(QWidget *control);
    void fieldChanged(SortField field);
    void repositioned(DirectoryKind kind);
    DirectoryKind selectedTab() const;

    MainWindow &m_window;
    const SearchPanel &m_panel;
    Directories &m_directories;
    SortField m_sortField = SortField::Number;
    DirectoryKind m_currentTab = DirectoryKind::Residents;
    int m_searchCount = 0;
};

} // namespace korvana
