#include "core/window/layoutpass.h"

#include <QTest>

using namespace korvana;

namespace {

LayoutPlan pass(float w, float h, bool dialPanel = true, bool pictureVisible = true)
{
    WGridCol table = WGridCol::withDefaults();
    LayoutInput in;
    in.width = w;
    in.height = h;
    in.dialPanelVisible = dialPanel;
    in.pictureVisible = pictureVisible;
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
    void columnScaleIsHalfTheStretchPlusOne_data()
    {
        QTest::addColumn<float>("w");
        QTest::addColumn<float>("stretch");
        QTest::addColumn<float>("scale");
        QTest::newRow("8000") << 8000.0f << 0.0f << 1.0f;
        QTest::newRow("9970") << 9970.0f << 0.4925f << 1.24625f;
        QTest::newRow("10000") << 10000.0f << 0.5f << 1.25f;
        QTest::newRow("12000") << 12000.0f << 1.0f << 1.5f;
        QTest::newRow("16000") << 16000.0f << 2.0f << 2.0f;
    }
    void columnScaleIsHalfTheStretchPlusOne()
    {
        QFETCH(float, w);
        QTEST(widthStretch(w), "stretch");
        QTEST(columnScale(w), "scale");
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

    // Where the picture goes and whether it shows, with and without the dial panel.
    void picturePlacedByWidth()
    {
        const struct {
            bool panel, wasVisible;
            float w, left; // left -1: unchanged
            int visible;   // -1: not set, 0 hidden, 1 shown
        } cases[] = {{true, true, 11875, -1, 0},   {true, true, 11975, 9550, -1}, {true, false, 11975, 9550, 1},
                     {true, true, 9970, -1, 0},    {true, true, 9500, 6725, 0},   {false, true, 9500, 6725, 1},
                     {false, true, 9970, 6960, -1}, {false, false, 9970, 6960, 1}};
        for (const auto &c : cases) {
            const LayoutPlan plan = pass(c.w, 6990, c.panel, c.wasVisible);
            const QString what = QStringLiteral("panel %1, was visible %2, width %3").arg(c.panel).arg(c.wasVisible).arg(c.w);
            QVERIFY2(plan.pictureLeft.value_or(-1.0f) == c.left, qPrintable(what));
            QVERIFY2((plan.pictureVisible ? int(*plan.pictureVisible) : -1) == c.visible, qPrintable(what));
        }
    }
};

QTEST_GUILESS_MAIN(TestLayout)
#include "tst_layout.moc"
