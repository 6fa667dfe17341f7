#include "window/layoutpass.h"

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

} // namespace

class TestLayout : public QObject {
    Q_OBJECT

private slots:
    void scale_data()
    {
        QTest::addColumn<float>("w");
        QTest::addColumn<float>("stretch");
        QTest::addColumn<float>("scale");
        QTest::newRow("narrow") << 5000.0f << 0.0f << 1.0f;
        QTest::newRow("8000") << 8000.0f << 0.0f << 1.0f;
        QTest::newRow("9970") << 9970.0f << 0.4925f << 1.24625f;
        QTest::newRow("10000") << 10000.0f << 0.5f << 1.25f;
        QTest::newRow("12000") << 12000.0f << 1.0f << 1.5f;
        QTest::newRow("16000") << 16000.0f << 2.0f << 2.0f;
    }
    void scale()
    {
        QFETCH(float, w);
        QTEST(widthStretch(w), "stretch");
        QTEST(columnScale(w), "scale");
    }

    void applyOrderAndScaledDefaults()
    {
        const auto widths = scaledColumnWidths(WGridCol::withDefaults(), 10000);
        QCOMPARE(widths[0], (ColumnWidth{1, 0, 1125}));
        QCOMPARE(widths[1], (ColumnWidth{3, 0, 1125}));
        QCOMPARE(widths[2], (ColumnWidth{2, 0, 3937.5f}));
        QCOMPARE(widths[3], (ColumnWidth{1, 1, 3500}));
        QCOMPARE(widths[20], (ColumnWidth{2, 6, 431.25f}));
        QCOMPARE(widths[21], (ColumnWidth{2, 7, 56.25f}));
        QCOMPARE(scaledColumnWidths(WGridCol::withDefaults(), 9970)[3].width, 3489.5f);
    }

    void storedWidthFollowsTheWindow()
    {
        WGridCol table = WGridCol::withDefaults();
        QVERIFY(storeColumnWidth(table, 1, 2, 1500, 12000, false));
        QCOMPARE(table.cell(1, 2), 1000.0f);
        QCOMPARE(table.cell(3, 2), 2400.0f);   // the same field in another grid keeps its width
        QCOMPARE(scaledColumnWidths(table, 8000)[6].width, 1000.0f);
        QCOMPARE(scaledColumnWidths(table, 16000)[6].width, 2000.0f);

        QVERIFY(storeColumnWidth(table, 3, 2, 1500, 7000, false));
        QCOMPARE(table.cell(3, 2), 1500.0f);
        QVERIFY(storeColumnWidth(table, 2, 7, 90, 16000, false));
        QCOMPARE(table.cell(2, 7), 45.0f);

        const WGridCol before = table;
        QVERIFY(!storeColumnWidth(table, 1, 2, 700, 12000, true));   // minimised
        QVERIFY(!storeColumnWidth(table, 1, 7, 700, 12000, false));  // (1, 7) is no column
        QVERIFY(!storeColumnWidth(table, 3, -1, 700, 12000, false));
        QVERIFY(!storeColumnWidth(table, 4, 0, 700, 12000, false));
        QCOMPARE(table, before);
    }

    void minimisedChangesNothing()
    {
        WGridCol table = WGridCol::withDefaults();
        LayoutInput in;
        in.width = 12000;
        in.height = 8000;
        QVERIFY(layoutPass(in, table));
        QCOMPARE(table.windowWidth(), 12000.0f);
        in.minimised = true;
        in.width = 500;
        QVERIFY(!layoutPass(in, table));
        QCOMPARE(table.windowWidth(), 12000.0f);
    }

    void heights()
    {
        const LayoutPlan low = pass(9970, 3595);
        QVERIFY(!low.tabStripHeight && !low.frameHeight && !low.gridHeight);
        const LayoutPlan plan = pass(9970, 3600);
        QCOMPARE(plan.tabStripHeight, 1375.0f);
        QCOMPARE(plan.frameHeight, 800.0f);
        QCOMPARE(plan.gridHeight, 600.0f);
    }

    void widths_data()
    {
        QTest::addColumn<float>("w");
        QTest::addColumn<QList<float>>("expected");   // tab strip, frames, grids, band
        QTest::newRow("4499") << 4499.0f << QList<float>{4450, 4210, 4160, 4500};
        QTest::newRow("4500") << 4500.0f << QList<float>{4450, 4210, 4160, 4500};
        QTest::newRow("6000") << 6000.0f << QList<float>{5950, 5710, 5660, 6000};
    }
    void widths()
    {
        QFETCH(float, w);
        const LayoutPlan plan = pass(w, 6990);
        const QList<float> got{plan.tabStripWidth, plan.frameWidth, plan.gridWidth, plan.bandWidth};
        QTEST(got, "expected");
    }

    void textSizes_data()
    {
        QTest::addColumn<float>("w");
        QTest::addColumn<QList<int>>("sizes");   // DBGrid1, DBGrid2, DBGrid3
        QTest::newRow("11900") << 11900.0f << QList<int>{12, 8, 12};
        QTest::newRow("11901") << 11901.0f << QList<int>{14, 12, 14};
        QTest::newRow("14000") << 14000.0f << QList<int>{14, 12, 14};
        QTest::newRow("14001") << 14001.0f << QList<int>{18, 14, 18};
    }
    void textSizes()
    {
        QFETCH(float, w);
        const auto sizes = pass(w, 6990).cellPointSize;
        QTEST((QList<int>{sizes.begin(), sizes.end()}), "sizes");
    }

    void picture_data()
    {
        QTest::addColumn<bool>("dialPanel");
        QTest::addColumn<bool>("wasVisible");
        QTest::addColumn<float>("w");
        QTest::addColumn<float>("left");   // -1: unchanged
        QTest::addColumn<int>("visible");  // -1: not set, 0 hidden, 1 shown
        QTest::newRow("panel, 11875") << true << true << 11875.0f << -1.0f << 0;
        QTest::newRow("panel, 11975, visible") << true << true << 11975.0f << 9550.0f << -1;
        QTest::newRow("panel, 11975, hidden") << true << false << 11975.0f << 9550.0f << 1;
        QTest::newRow("panel, 9970") << true << true << 9970.0f << -1.0f << 0;
        QTest::newRow("panel, 9000") << true << true << 9000.0f << 6725.0f << 0;
        QTest::newRow("no panel, 9000") << false << true << 9000.0f << 6725.0f << 1;
        QTest::newRow("no panel, 9970, visible") << false << true << 9970.0f << 6960.0f << -1;
        QTest::newRow("no panel, 9970, hidden") << false << false << 9970.0f << 6960.0f << 1;
        QTest::newRow("no panel, 12000") << false << true << 12000.0f << 7975.0f << -1;
    }
    void picture()
    {
        QFETCH(bool, dialPanel);
        QFETCH(bool, wasVisible);
        QFETCH(float, w);
        const LayoutPlan plan = pass(w, 6990, dialPanel, wasVisible);
        QTEST(plan.pictureLeft.value_or(-1.0f), "left");
        QTEST(plan.pictureVisible ? int(*plan.pictureVisible) : -1, "visible");
    }

    void passAppliesScaledColumns()
    {
        const WGridCol defaults = WGridCol::withDefaults();
        QVERIFY(pass(8000, 6990).columns == scaledColumnWidths(defaults, 8000));
        QCOMPARE(pass(8000, 6990).columns[2].width, 3150.0f);
        QCOMPARE(pass(16000, 6990).columns[2].width, 6300.0f);
    }
};

QTEST_GUILESS_MAIN(TestLayout)
#include "tst_layout.moc"
