// The query texts the search records, and their bound SQLite meaning.
#include "core/search/searchquery.h"
#include "core/store/textfold.h"

#include <QTest>

using namespace korvana;
Q_DECLARE_METATYPE(korvana::SearchCriteria)

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
    void recordedTexts_data()
    {
        QTest::addColumn<SearchCriteria>("criteria");
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("sortField");
        QTest::addColumn<QString>("text");

        QTest::newRow("all empty") << SearchCriteria{} << 1 << 1
                                   << "Select * From NASELEN ORDER BY N_tel";
        QTest::newRow("number and street")
            << SearchCriteria{"23", "", "Лес", "", ""} << 1 << 3
            << "Select * From NASELEN WHERE N_tel like '23*' AND STREET like 'Лес*' ORDER BY "
               "STREET, DOM, DOM1, KVART, KVART1";
        QTest::newRow("street alone opens without a blank")
            << SearchCriteria{"", "", "Лес", "", ""} << 2 << 2
            << "Select * From PREDPR WHERE STREET like'Лес*' ORDER BY PREDPR, PRIM";
        QTest::newRow("personal house and flat")
            << SearchCriteria{"", "", "", " 12 ", "5"} << 3 << 4
            << "Select * From kadu.Note WHERE left(trim(DOM),2) = '12' AND Left(Trim(KVART),1) "
               "= '5' ORDER BY DOM, DOM1, KVART, KVART1";
        QTest::newRow("name on enterprises searches PREDPR")
            << SearchCriteria{"", "апт", "", "", ""} << 2 << 5
            << "Select * From PREDPR WHERE PREDPR like 'апт*' ORDER BY KVART, KVART1";
        QTest::newRow("name joins after number")
            << SearchCriteria{"2", "Пет", "", "1", ""} << 1 << 2
            << "Select * From NASELEN WHERE N_tel like '2*' AND FAMILY like 'Пет*' AND "
               "left(trim(DOM),1) = '1' ORDER BY FAMILY";
        QTest::newRow("flat opens the clause")
            << SearchCriteria{"", "", "", "", "7"} << 1 << 1
            << "Select * From NASELEN WHERE Left(Trim(KVART),1) = '7' ORDER BY N_tel";
        QTest::newRow("blank-only fields are skipped, tabs kept")
            << SearchCriteria{"   ", "\tИв ", "", "", ""} << 1 << 2
            << "Select * From NASELEN WHERE FAMILY like '\tИв*' ORDER BY FAMILY";
        QTest::newRow("value kept as typed")
            << SearchCriteria{"", "Д'Ар", "", "", ""} << 1 << 2
            << "Select * From NASELEN WHERE FAMILY like 'Д'Ар*' ORDER BY FAMILY";
    }
    void recordedTexts()
    {
        QFETCH(SearchCriteria, criteria);
        QFETCH(int, tab);
        QFETCH(int, sortField);
        QFETCH(QString, text);
        QCOMPARE(query(criteria, tab, sortField, tab).text, text);
    }

    void orderClauses()
    {
        QCOMPARE(orderByClause(SortField(2), kindForTab(2)), QStringLiteral(" ORDER BY PREDPR, PRIM"));
        QCOMPARE(orderByClause(SortField(2), kindForTab(1)), QStringLiteral(" ORDER BY FAMILY"));
        QCOMPARE(orderByClause(SortField(3), kindForTab(2)), QStringLiteral(" ORDER BY STREET, DOM, DOM1, KVART, KVART1"));
        // Sorting by a field the table lacks cannot run.
        QVERIFY(query({}, 2, 2, 1).invalid);
        QVERIFY(!query({}, 2, 2, 2).invalid);
    }

    void valuesAreBoundNotSpliced()
    {
        const SearchQuery q = query({"1", "Ив'; DROP TABLE Note; --", "", "", ""}, 1, 2, 1);
        QVERIFY(q.malformed);
        QVERIFY(!q.where.contains(QStringLiteral("DROP")));
        QCOMPARE(q.where, QStringLiteral(" WHERE k_n_tel GLOB ?1 AND k_family GLOB ?2"));
        QCOMPARE(q.parameters.size(), 2);
    }

    void apostropheInAnyFieldIsMalformed()
    {
        QVERIFY(query({"2'", "", "", "", ""}, 1, 1, 1).malformed);
        QVERIFY(query({"", "", "", "", "1'"}, 3, 1, 3).malformed);
        QVERIFY(!query({"", "Дартаньян", "", "", ""}, 1, 1, 1).malformed);
    }

    void patterns()
    {
        // Wildcards survive inside the value; every other special is literal.
        const SearchQuery q = query({"2?3*", "Тест_1%[", "", "1*", ""}, 1, 1, 1);
        QCOMPARE(q.parameters.at(0), QStringLiteral("2?3**"));
        QCOMPARE(q.parameters.at(1), QStringLiteral("тест_1%[[]*"));
        // House and flat are plain prefixes: "*" is just a character there.
        QCOMPARE(q.parameters.at(2), QStringLiteral("1[*]*"));
    }

    void digitsCheck()
    {
        for (const char *ok : {"", "12", " 12 ", "12 ", "-3", "+4", "1.5", "1,5", "2e3", ".5"})
            QVERIFY2(passesDigitsCheck(QString::fromUtf8(ok)), ok);
        for (const char *bad : {" ", "   ", "12а", "a", "1.2.3", "1 2", "--1", "e5", "12'"})
            QVERIFY2(!passesDigitsCheck(QString::fromUtf8(bad)), bad);
    }

    void folding()
    {
        QCOMPARE(foldText(QStringLiteral("ЁЛКА ёлка IVAN Їжак ҐЄІ")),
                 QStringLiteral("елка елка ivan їжак ґєі"));
        // One character in, one out, also outside the basic plane.
        const QString emoji = QStringLiteral("A😀Б");
        QCOMPARE(foldText(emoji), QStringLiteral("a😀б"));
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
