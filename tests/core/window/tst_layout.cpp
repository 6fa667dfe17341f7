#include "core/window/layoutpass.h"

#include <QTest>

using namespace korvana;

namespace {

LayoutPlan pass(float w, float h)
{
    WGridCol table = WGridCol::withDefaults();
    LayoutInput in;
    in.width = w;
    in.height = h;
    return layoutPass(in, table).value();
}

QList<float> sizes(const LayoutPlan &p)
{
    return {p.tabStripHeight.value_or(-1), p.frameHeight.value_or(-1), p.gridHeight.value_or(-1),
            p.tabStripWidth, p.frameWidth, p.gridWidth, p.bandWidth};
}

} // namespace

class TestLayout : public QObject {
    Q_OBJECT

private slots:
    void columnScaleIsHalfTheStretchPlusOne()
    {
        const struct { float w, stretch, scale; } cases[] = {
            {8000, 0, 1}, {9970, 0.4925f, 1.24625f}, {10000, 0.5f, 1.25f}, {12000, 1, 1.5f}, {16000, 2, 2}};
        for (const auto &c : cases) {
            QVERIFY2(qFuzzyCompare(widthStretch(c.w) + 1, c.stretch + 1), qPrintable(QString::number(c.w)));
            QVERIFY2(qFuzzyCompare(columnScale(c.w), c.scale), qPrintable(QString::number(c.w)));
        }
    }

    void columnWidthsInTheirOrderAndStoredUnscaled()
    {
        const auto widths = scaledColumnWidths(WGridCol::withDefaults(), 10000);
        QCOMPARE(widths[0], (ColumnWidth{1, 0, 1125}));
        QCOMPARE(widths[1], (ColumnWidth{3, 0, 1125}));
        QCOMPARE(widths[2], (ColumnWidth{2, 0, 3937.5f}));
        QCOMPARE(widths[21], (ColumnWidth{2, 7, 56.25f}));

        WGridCol table = WGridCol::withDefaults();
        QVERIFY(storeColumnWidth(table, 1, 2, 1500, 12000, false));
        QCOMPARE(table.cell(1, 2), 1000.0f);
        QCOMPARE(table.cell(3, 2), 2400.0f); // the same field in another grid keeps its width
        QVERIFY(storeColumnWidth(table, 2, 7, 90, 16000, false));
        QCOMPARE(table.cell(2, 7), 45.0f);
        const WGridCol before = table;
        QVERIFY(!storeColumnWidth(table, 1, 2, 700, 12000, true));  // minimised
        QVERIFY(!storeColumnWidth(table, 1, 7, 700, 12000, false)); // (1, 7) is no column
        QVERIFY(!storeColumnWidth(table, 4, 0, 700, 12000, false));
        QCOMPARE(table, before);

        // The pass records W and sets the stored columns scaled to it; minimised it does nothing.
        LayoutInput in;
        in.width = 16000;
        in.height = 8000;
        QCOMPARE(layoutPass(in, table)->columns[6], (ColumnWidth{1, 2, 2000}));
        QCOMPARE(table.windowWidth(), 16000.0f);
        in.minimised = true;
        in.width = 500;
        QVERIFY(!layoutPass(in, table));
        QCOMPARE(table.windowWidth(), 16000.0f);
    }

    void heightsWidthsAndTextSizesAtTheirBoundaries()
    {
        QCOMPARE(sizes(pass(9970, 3595)).mid(0, 3), (QList<float>{-1, -1, -1}));
        QCOMPARE(sizes(pass(6000, 3600)), (QList<float>{1375, 800, 600, 5950, 5710, 5660, 6000}));
        // Below 4500 the widths stay those of 4500.
        QCOMPARE(sizes(pass(4499, 6990)).mid(3), (QList<float>{4450, 4210, 4160, 4500}));
        // Cell text of DBGrid1, DBGrid2, DBGrid3 at the boundary widths.
        const auto text = [](float w) { const auto s = pass(w, 6990).cellPointSize; return QList<int>{s.begin(), s.end()}; };
        QCOMPARE(text(11900), (QList<int>{12, 8, 12}));
        QCOMPARE(text(11901), (QList<int>{14, 12, 14}));
        QCOMPARE(text(14000), (QList<int>{14, 12, 14}));
        QCOMPARE(text(14001), (QList<int>{18, 14, 18}));
    }
};

QTEST_GUILESS_MAIN(TestLayout)
#include "tst_layout.moc"
