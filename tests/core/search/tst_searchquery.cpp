// The query texts the search records, and their bound SQLite meaning.
#include "core/search/searchquery.h"
#include "core/store/textfold.h"

#include <QTest>

using namespace korvana;

namespace {

// Tabs and sort fields as the window numbers them.
SearchQuery query(const SearchCriteria &c, int selectedTab, int sortField, int currentTab)
{
    return buildSearchQuery(c, kindForTab(selectedTab), SortField(sortField), kindForTab(currentTab));
}

} // namespace

class TestSearchQuery : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The text recorded for a search, as the directory dialect writes it.
    void recordedTexts()
    {
        const struct { SearchCriteria c; int tab, sort; const char *text; } cases[] = {
            {{}, 1, 1, "Select * From NASELEN ORDER BY N_tel"},
            {{"23", "", "Лес", "", ""}, 1, 3, "Select * From NASELEN WHERE N_tel like '23*' AND STREET like 'Лес*' "
                                              "ORDER BY STREET, DOM, DOM1, KVART, KVART1"},
            // The street opening the clause has no blank before its value.
            {{"", "", "Лес", "", ""}, 2, 2, "Select * From PREDPR WHERE STREET like'Лес*' ORDER BY PREDPR, PRIM"},
            {{"", "", "", " 12 ", "5"}, 3, 4, "Select * From kadu.Note WHERE left(trim(DOM),2) = '12' AND "
                                              "Left(Trim(KVART),1) = '5' ORDER BY DOM, DOM1, KVART, KVART1"},
            {{"", "апт", "", "", ""}, 2, 5, "Select * From PREDPR WHERE PREDPR like 'апт*' ORDER BY KVART, KVART1"},
            // Blank-only fields are skipped, tabs are no blanks, values are kept as typed.
            {{"   ", "\tИв ", "", "", ""}, 1, 2, "Select * From NASELEN WHERE FAMILY like '\tИв*' ORDER BY FAMILY"},
            {{"", "Д'Ар", "", "", ""}, 1, 2, "Select * From NASELEN WHERE FAMILY like 'Д'Ар*' ORDER BY FAMILY"},
        };
        for (const auto &t : cases)
            QCOMPARE(query(t.c, t.tab, t.sort, t.tab).text, QString::fromUtf8(t.text));
    }

    // Values reach SQLite only as bound, escaped patterns: "*" and "?" kept
    // in number, name and street, everything else literal; an apostrophe
    // in any field makes the query malformed; a sort field the table lacks
    // makes it invalid.
    void valuesAreBoundAsPatterns()
    {
        const SearchQuery q = query({"2?3*", "Тест_1%[ Д'А", "", "1*", ""}, 1, 1, 1);
        QVERIFY(q.malformed);
        QCOMPARE(q.where, QStringLiteral(" WHERE k_n_tel GLOB ?1 AND k_family GLOB ?2 AND kt_dom GLOB ?3"));
        QCOMPARE(q.parameters, QStringList({"2?3**", "тест_1%[[] д'а*", "1[*]*"}));
        QVERIFY(query({"", "", "", "", "1'"}, 3, 1, 3).malformed);
        QVERIFY(query({}, 2, 2, 1).invalid);
    }

    void digitsCheckTakesSignedDecimalsOnly()
    {
        for (const char *ok : {"", "12", " 12 ", "12 ", "-3", "+4", "1.5", "1,5", "2e3", ".5"})
            QVERIFY2(passesDigitsCheck(QString::fromUtf8(ok)), ok);
        for (const char *bad : {" ", "   ", "12а", "a", "1.2.3", "1 2", "--1", "e5", "12'"})
            QVERIFY2(!passesDigitsCheck(QString::fromUtf8(bad)), bad);
    }

    void foldJoinsCaseAndYoTrimKeepsTabs()
    {
        QCOMPARE(foldText(QStringLiteral("ЁЛКА ёлка IVAN Їжак ҐЄІ")),
                 QStringLiteral("елка елка ivan їжак ґєі"));
        // One character in, one out, also outside the basic plane.
        QCOMPARE(foldText(QStringLiteral("A😀Б")), QStringLiteral("a😀б"));
        QCOMPARE(trimBlanks(QStringLiteral("  \t12 \t ")), QStringLiteral("\t12 \t"));
    }

    // The byte-wise fold that fills the search columns must store what the
    // search folds its patterns to, for every character; ill-formed bytes
    // are left to foldText().
    void byteFoldAgreesWithFoldText()
    {
        for (char32_t cp = 0; cp < 0x110000; cp += cp < 0x10000 ? 1 : 97) {
            if (cp >= 0xd800 && cp <= 0xdfff)
                continue;
            const QString text = QString::fromUcs4(&cp, 1) + QStringLiteral("Ё");
            std::string bytes;
            QVERIFY(foldUtf8(text.toStdString(), bytes));
            if (QByteArray::fromStdString(bytes) != foldText(text).toUtf8())
                QFAIL(qPrintable(QStringLiteral("U+%1").arg(uint(cp), 4, 16, QLatin1Char('0'))));
        }
        for (const char *bad : {"\xd0", "\xc0\x80", "\xe0\x80\xaf", "\xed\xa0\x80", "a\xff", "\xf4\x90\x80\x80"}) {
            std::string out = "kept";
            QVERIFY2(!foldUtf8(bad, out) && out == "kept", bad);
        }
    }
};

QTEST_GUILESS_MAIN(TestSearchQuery)
#include "tst_searchquery.moc"
