#include "core/search/searchquery.h"

#include "core/store/textfold.h"

namespace korvana {

namespace {

QStringList orderColumnsFor(SortField sortField, DirectoryKind currentTab)
{
    switch (sortField) {
    case SortField::Number: return {QStringLiteral("k_n_tel")};
    case SortField::Street:
        return {QStringLiteral("k_street"), QStringLiteral("k_dom"), QStringLiteral("k_dom1"),
                QStringLiteral("k_kvart"), QStringLiteral("k_kvart1")};
    case SortField::House:
        return {QStringLiteral("k_dom"), QStringLiteral("k_dom1"), QStringLiteral("k_kvart"),
                QStringLiteral("k_kvart1")};
    case SortField::Flat: return {QStringLiteral("k_kvart"), QStringLiteral("k_kvart1")};
    case SortField::Name: break;
    }
    if (currentTab == DirectoryKind::Enterprises)
        return {QStringLiteral("k_predpr"), QStringLiteral("k_prim")};
    return {QStringLiteral("k_family")};
}

// Length in characters as the user counts them (a surrogate pair is one).
int characterCount(const QString &text) { return int(text.toUcs4().size()); }

} // namespace

QString orderByClause(SortField sortField, DirectoryKind currentTab)
{
    switch (sortField) {
    case SortField::Number: return QStringLiteral(" ORDER BY N_tel");
    case SortField::Street: return QStringLiteral(" ORDER BY STREET, DOM, DOM1, KVART, KVART1");
    case SortField::House: return QStringLiteral(" ORDER BY DOM, DOM1, KVART, KVART1");
    case SortField::Flat: return QStringLiteral(" ORDER BY KVART, KVART1");
    case SortField::Name: break;
    }
    return currentTab == DirectoryKind::Enterprises ? QStringLiteral(" ORDER BY PREDPR, PRIM")
                           : QStringLiteral(" ORDER BY FAMILY");
}

SearchQuery buildSearchQuery(const SearchCriteria &criteria, DirectoryKind selectedTab,
                             SortField sortField, DirectoryKind currentTab)
{
    SearchQuery q;
    q.kind = selectedTab;
    switch (q.kind) {
    case DirectoryKind::Residents: q.text = QStringLiteral("Select * From NASELEN"); break;
    case DirectoryKind::Enterprises: q.text = QStringLiteral("Select * From PREDPR"); break;
    case DirectoryKind::Personal: q.text = QStringLiteral("Select * From kadu.Note"); break;
    }

    bool whereOpen = false;
    QStringList conditions;
    // `opening` is the fragment used when this criterion opens the WHERE clause.
    auto criterion = [&](const QString &raw, const QString &opening, const QString &joining,
                         const QString &shadow, bool pattern) {
        const QString v = trimBlanks(raw);
        if (v.isEmpty())
            return;
        q.text += whereOpen ? joining : opening;
        whereOpen = true;
        if (pattern) {
            q.text += v + QStringLiteral("*'");
            q.parameters << globWildcards(foldText(v)) + QStringLiteral("*");
        } else {
            q.text += QString::number(characterCount(v)) + QStringLiteral(") = '") + v
                + QStringLiteral("'");
            q.parameters << globLiteral(foldText(v)) + QStringLiteral("*");
        }
        conditions << QStringLiteral("%1 GLOB ?%2").arg(shadow).arg(q.parameters.size());
        q.columns << shadow;
        if (v.contains(u'\''))
            q.malformed = true;
    };

    criterion(criteria.number, QStringLiteral(" WHERE N_tel like '"), QString(),
              QStringLiteral("k_n_tel"), true);
    const bool enterprises = selectedTab == DirectoryKind::Enterprises;
    const QString nameColumn = enterprises ? QStringLiteral("PREDPR") : QStringLiteral("FAMILY");
    criterion(criteria.name, QStringLiteral(" WHERE %1 like '").arg(nameColumn),
              QStringLiteral(" AND %1 like '").arg(nameColumn),
              enterprises ? QStringLiteral("k_predpr") : QStringLiteral("k_family"), true);
    criterion(criteria.street, QStringLiteral(" WHERE STREET like'"),
              QStringLiteral(" AND STREET like '"), QStringLiteral("k_street"), true);
    criterion(criteria.house, QStringLiteral(" WHERE left(trim(DOM),"),
              QStringLiteral(" AND left(trim(DOM),"), QStringLiteral("kt_dom"), false);
    criterion(criteria.flat, QStringLiteral(" WHERE Left(Trim(KVART),"),
              QStringLiteral(" AND Left(Trim(KVART),"), QStringLiteral("kt_kvart"), false);

    q.text += orderByClause(sortField, currentTab);
    if (!conditions.isEmpty())
        q.where = QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));

    q.orderColumns = orderColumnsFor(sortField, currentTab);
    const QStringList shadows = [&] {
        QStringList s;
        for (const QString &f : tableInfo(q.kind).fields)
            s << QStringLiteral("k_") + f.toLower();
        return s;
    }();
    for (const QString &c : q.orderColumns)
        if (!shadows.contains(c))
            q.invalid = true;
    q.orderColumns << QStringLiteral("rowid");
    return q;
}

QList<QStringList> searchOrders(DirectoryKind kind)
{
    QList<QStringList> out;
    for (SortField sort : {SortField::Number, SortField::Name, SortField::Street, SortField::House,
                           SortField::Flat})
        out << orderColumnsFor(sort, kind) + QStringList{QStringLiteral("rowid")};
    return out;
}

QStringList criterionColumns(DirectoryKind kind)
{
    return {QStringLiteral("k_n_tel"),
            kind == DirectoryKind::Enterprises ? QStringLiteral("k_predpr") : QStringLiteral("k_family"),
            QStringLiteral("k_street"), QStringLiteral("kt_dom"), QStringLiteral("kt_kvart")};
}

SearchQuery wholeTableQuery(DirectoryKind kind)
{
    SearchQuery q;
    q.kind = kind;
    q.text = kind == DirectoryKind::Personal ? QStringLiteral("NOTE") : tableInfo(kind).table;
    q.orderColumns = {QStringLiteral("rowid")};
    return q;
}

} // namespace korvana

#include <QRegularExpression>

namespace korvana {

bool passesDigitsCheck(const QString &text)
{
    if (text.isEmpty())
        return true;
    static const QRegularExpression number(
        QStringLiteral("^ *[+-]?(\\d+([.,]\\d*)?|[.,]\\d+)([eEdD][+-]?\\d+)? *$"));
    return number.match(text).hasMatch();
}

} // namespace korvana
