#pragma once

#include "core/store/directorykind.h"

#include <QString>
#include <QStringList>

namespace korvana {

// The search field that last had the focus, which orders the result;
// numbered as the fields stand in the window.
enum class SortField { Number = 1, Name = 2, Street = 3, House = 4, Flat = 5 };

// What the five search fields hold, untrimmed, exactly as typed.
struct SearchCriteria {
    QString number; // Tent
    QString name;   // Tefio
    QString street; // Testr
    QString house;  // Tedom
    QString flat;   // Tekv
};

// One search: the query text the system records (the directory dialect with
// the values written in, as the user sees them), and its SQLite meaning with
// every user value bound as a parameter.
struct SearchQuery {
    DirectoryKind kind = DirectoryKind::Residents;
    QString text;             // e.g. "Select * From NASELEN WHERE N_tel like '23*' ORDER BY N_tel"
    QString where;            // "" or " WHERE k_n_tel GLOB ?1 AND ..."
    QStringList parameters;   // bound to ?1, ?2, ... in order
    QStringList columns;      // the shadow column each parameter is matched against
    QStringList orderColumns; // shadow columns, rowid last
    // The text would not parse in the directory dialect (an apostrophe in a
    // value closes the quoted value early). Such a query is never run.
    bool malformed = false;
    // The ORDER BY names a field the table lacks; running it fails.
    bool invalid = false;
};

// The ORDER BY clause, with its leading blank, for a sort field and the
// directory whose controls are shown.
QString orderByClause(SortField sortField, DirectoryKind currentTab);

// The query for the five criteria on the directory of the selected tab.
// The name order follows `currentTab`, which a tab change sets before it
// searches; a name order the selected table lacks makes the query invalid.
SearchQuery buildSearchQuery(const SearchCriteria &criteria, DirectoryKind selectedTab,
                             SortField sortField, DirectoryKind currentTab);

// Every order a search of the directory can ask for (folded columns, rowid
// last), and the folded columns its criteria test.
QList<QStringList> searchOrders(DirectoryKind kind);
QStringList criterionColumns(DirectoryKind kind);

// The query a record source holds before its first search: the whole table
// in stored order.
SearchQuery wholeTableQuery(DirectoryKind kind);

} // namespace korvana

namespace korvana {

// The digits check of the house and flat fields: empty text passes, and so
// does a number with blanks around it, an optional sign, one decimal
// separator and an optional exponent. Blanks alone do not.
bool passesDigitsCheck(const QString &text);

} // namespace korvana
