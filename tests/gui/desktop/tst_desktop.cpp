// The window on a real X desktop under a window manager, driven by real
// input: activation, focus, narrow columns and the title bar's close button
// behave as the window manager makes them, not as offscreen.
#include "accessfixtures.h"
#include "appfixture.h"
#include "boxanswerer.h"
#include "desktop.h"
#include "testfiles.h"

#include "core/app/placement.h"
#include "core/personal/personalmodel.h"
#include "core/search/recordsource.h"
#include "core/store/store.h"
#include "core/window/columnwidths.h"
#include "core/window/twips.h"
#include "gui/search/searchcontroller.h"
#include "gui/window/controls.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabBar>
#include <QTest>

using namespace korvana;
using korvana::test::AppFixture;
using korvana::test::BoxAnswerer;
using korvana::test::Desktop;

namespace {

const QString kPress = QStringLiteral("Нажмите <Enter> или <OK>");

QPoint centreOf(const QWidget *w) { return w->mapToGlobal(w->rect().center()); }

int px(double twips) { return std::max(1, twipsToPixels(twips, 96)); }

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
    Desktop &desktop;
    std::unique_ptr<AppFixture> f;
    std::unique_ptr<BoxAnswerer> boxes;

    MainWindow *window() const { return f->app->window(); }
    int searches() const { return f->app->search()->searchCount(); }
    QString query() const { return f->app->source(DirectoryKind::Residents)->queryText(); }
    // The window has the keyboard again, with the focus in `w`.
    bool backIn(const QWidget *w) const
    {
        return window()->isActiveWindow() && QApplication::focusWidget() == w;
    }
    // The n-th box has been answered and the window has the keyboard again.
    bool answered(qsizetype n, const QWidget *back) const
    {
        return QTest::qWaitFor([&] { return boxes->count() == n && backIn(back); }, 5000);
    }
    // A click into a field, as the user moves between fields.
    bool enter(const char *name)
    {
        QLineEdit *field = f->field(name);
        desktop.click(centreOf(field));
        return QTest::qWaitFor([&] { return backIn(field); }, 5000);
    }

    // The window manager's close button of the title bar.
    void closeFromTitleBar()
    {
        const QRect frame = window()->frameGeometry();
        const int title = window()->geometry().top() - frame.top();
        desktop.click(QPoint(frame.right() - title / 2 - 2, frame.top() + title / 2));
    }

public:
    explicit TestDesktop(Desktop &desktop) : desktop(desktop) {}

private Q_SLOTS:
    void init()
    {
        f = std::make_unique<AppFixture>(std::function<void(test::TestDb &)>{},
                                         AppFixture::Screen::Desktop);
        boxes = std::make_unique<BoxAnswerer>(desktop);
        // The first focus of all is an arrival: it runs the first search.
        QTRY_VERIFY_WITH_TIMEOUT(backIn(f->field("Tent")), 5000);
        QCOMPARE(query(), QStringLiteral("Select * From NASELEN ORDER BY N_tel"));
    }

    void cleanup()
    {
        boxes.reset();
        f.reset();
    }

    // One Enter closes each box for good: the window getting the keyboard
    // back, from the box or from another program, neither searches again
    // (which would bring the box back, or search a refused house number)
    // nor re-sorts.
    void theWindowComingBackIsNoArrival()
    {
        QLineEdit *tent = f->field("Tent");
        const int first = searches();
        desktop.keys({QStringLiteral("2"), QStringLiteral("apostrophe")});
        QVERIFY(answered(1, tent));
        QCOMPARE(boxes->last().text,
                 QStringLiteral("Вы хотели сказать Э?\rПроверьте раскладку клавиатуры\r") + kPress);
        QCOMPARE(boxes->last().icon, int(QMessageBox::Critical));
        QCOMPARE(tent->text(), QStringLiteral("2'"));
        QCOMPARE(searches(), first + 2);

        QLineEdit *tedom = f->field("Tedom");
        tent->clear();
        QVERIFY(enter("Tedom"));
        desktop.keys({QStringLiteral("1")});
        QTRY_COMPARE(f->count(), QStringLiteral("из 7"));
        const int before = searches();
        const QString accepted = query();
        desktop.keys({QStringLiteral("a")});
        QVERIFY(answered(2, tedom));
        QCOMPARE(boxes->last().text, QStringLiteral("Ввод номера дома, ЦИФРЫ\r") + kPress);

        // Away to another program and back by Alt+Tab.
        QProcess *other = desktop.launch({QStringLiteral("xmessage"), QStringLiteral("another program")});
        QTRY_VERIFY_WITH_TIMEOUT(!window()->isActiveWindow(), 5000);
        desktop.keys({QStringLiteral("alt+Tab")});
        QTRY_VERIFY(backIn(tedom));
        QCOMPARE(searches(), before);
        QCOMPARE(query(), accepted);
        QCOMPARE(boxes->count(), 2);

        // A click on another field of the inactive window is a move, though.
        desktop.keys({QStringLiteral("alt+Tab")});
        QTRY_VERIFY(!window()->isActiveWindow());
        QVERIFY(enter("Testr"));
        QCOMPARE(searches(), before + 1);
        QCOMPARE(f->app->search()->sortField(), SortField::Street);
        desktop.stopProgram(other);
    }

    // The clear button empties the five fields with a search each; then,
    // disabled by the tick while it holds the focus, it hands the focus back
    // to the field whose order the cleared list keeps, without a search, so
    // that what is typed next goes where the cursor and the order agree.
    void clearedListKeepsItsOrder()
    {
        const char *names[] = {"Tent", "Tefio", "Testr", "Tedom", "Tekv"};
        const char *texts[] = {"2", "П", "С", "1", "5"};
        for (int i = 0; i < 5; ++i)
            f->field(names[i])->setText(QString::fromUtf8(texts[i]));
        QVERIFY(enter("Testr"));
        QCOMPARE(f->count(), QStringLiteral("из 1"));
        auto *clear = f->control<QAbstractButton>("Command1");
        QTRY_VERIFY(clear->isEnabled());
        const int before = searches();
        desktop.click(centreOf(clear));
        QTRY_COMPARE(f->count(), QStringLiteral("из 10"));
        QCOMPARE(searches(), before + 5);
        QTRY_VERIFY(!clear->isEnabled());
        QTRY_VERIFY(backIn(f->field("Testr")));
        QCOMPARE(searches(), before + 5);
        QCOMPARE(query(), QStringLiteral("Select * From NASELEN ORDER BY STREET, DOM, DOM1, KVART, KVART1"));
        desktop.keys({QStringLiteral("3")});
        QTRY_COMPARE(f->field("Testr")->text(), QStringLiteral("3"));
        QCOMPARE(searches(), before + 6);
        QCOMPARE(f->field("Tent")->text(), QString());
        QCOMPARE(boxes->count(), 0);
    }

    // A stored placement of no area (a window never mapped) starts at the
    // design placement; made as small as can be, the window stops at a size
    // that still shows the search fields, the count and a grid row.
    void noAreaPlacementAndTheSmallestWindow()
    {
        f.reset();
        f = std::make_unique<AppFixture>(
                [](test::TestDb &db) {
                    QSettings stored(db.dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
                    stored.setValue(QStringLiteral("Settings/MainWidth"), QStringLiteral("-5000"));
                    stored.setValue(QStringLiteral("Settings/MainHeight"), QStringLiteral("0"));
                },
                AppFixture::Screen::Desktop);
        MainWindow *w = window();
        QTRY_VERIFY_WITH_TIMEOUT(w->isActiveWindow(), 5000);
        QTRY_COMPARE(w->frameGeometry(), QRect(px(1000), px(1000), px(9970), px(6990)));

        // Asked of the window manager by another program, as a resize is.
        QProcess *resize = desktop.launch({QStringLiteral("xdotool"), QStringLiteral("windowsize"),
                                           QString::number(w->winId()), QStringLiteral("33"), QStringLiteral("41")});
        QVERIFY(resize->waitForFinished(5000));
        QTRY_COMPARE(w->size(), QSize(px(kMinimumClientWidth), px(kMinimumClientHeight)));
        const QRect client = w->rect();
        for (const char *name : {"Tent", "Tefio", "Testr", "Tedom", "Tekv", "Label7", "Command1"}) {
            auto *control = f->control<QWidget>(QString::fromLatin1(name));
            QVERIFY2(client.contains(QRect(control->mapTo(w, QPoint()), control->size())), name);
        }
        DirectoryGrid *grid = w->grid(DirectoryKind::Residents);
        const QRect firstRow = grid->visualRect(grid->model()->index(0, 1));
        QVERIFY(grid->viewport()->rect().contains(firstRow));
        QVERIFY(client.contains(QRect(grid->viewport()->mapTo(w, firstRow.topLeft()), firstRow.size())));

        // Closed that small, it starts that small again.
        const Placement smallest = w->outerPlacement();
        f->restart();
        QTRY_COMPARE(window()->outerPlacement(), smallest);
    }

    // A drag below Qt's usual floor of a column is kept; the copy question,
    // answered with Enter (Yes), leaves the grid on its row.
    void narrowColumnAndTheCopiedRow()
    {
        MainWindow *w = window();
        DirectoryGrid *grid = w->grid(DirectoryKind::Residents);
        QHeaderView *header = grid->horizontalHeader();
        // Grabbed at the column's last pixel and moved left: 3 px wide.
        const int edge = header->sectionViewportPosition(0) + header->sectionSize(0) - 1;
        const int y = header->height() / 2;
        desktop.drag(header->viewport()->mapToGlobal(QPoint(edge, y)),
                     header->viewport()->mapToGlobal(QPoint(edge - header->sectionSize(0) + 3, y)));
        QTRY_COMPARE(header->sectionSize(0), 3);
        QCOMPARE(f->app->widths().cell(1, 0), float(pixelsToTwips(3, 96)) / columnScale(w->outerPlacement().width));

        const qint64 entries = f->app->store()->tableRowCount(DirectoryKind::Personal);
        const int before = searches();
        const QRect row = grid->visualRect(grid->model()->index(2, 1));
        desktop.click(grid->viewport()->mapToGlobal(row.center()), 2);
        QVERIFY(answered(1, grid));
        QCOMPARE(boxes->last().text, QStringLiteral("Вставить  <23100  Елисеев Е.Е.>  в МОЙ справочник?"));
        QCOMPARE(boxes->last().buttons, int(QMessageBox::Yes | QMessageBox::No));
        QCOMPARE(f->app->store()->tableRowCount(DirectoryKind::Personal), entries + 1);
        QCOMPARE(grid->currentIndex().row(), 2);
        QCOMPARE(f->app->source(DirectoryKind::Residents)->absolutePosition(), 2);
        QCOMPARE(f->commy(), QStringLiteral("23100 Елисеев Е.Е."));
        QCOMPARE(searches(), before);
    }

    // Closed while a cell of «Мой» is still being edited: what is typed is
    // stored, as one entry, before the window goes.
    void closeKeepsTheOpenCell_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QString>("stored");
        const QStringList number{"1", "2", "3", "4", "5"};
        QTest::newRow("one cell") << number << "2 '12345'NULLNULLNULL'\"  \"'NULLNULL";
        QTest::newRow("two cells") << number + QStringList{"Tab", "i", "v", "a", "n", "o", "v"}
                                   << "2 '12345''ivanov'NULLNULL'\"  \"'NULLNULL";
    }
    void closeKeepsTheOpenCell()
    {
        QFETCH(QStringList, keys);
        auto *tabs = f->control<QTabBar>("TabStrip1");
        desktop.click(tabs->mapToGlobal(tabs->tabRect(2).center()));
        DirectoryGrid *grid = window()->grid(DirectoryKind::Personal);
        QTRY_VERIFY(grid->isVisible());
        const QModelIndex newRow = grid->model()->index(grid->model()->rowCount() - 1, 0);
        desktop.click(grid->viewport()->mapToGlobal(grid->visualRect(newRow).center()));
        QTRY_VERIFY(backIn(grid));
        desktop.keys(keys);
        // Every key has reached the editor, which still holds the last cell.
        const auto editor = [&] { return qobject_cast<QLineEdit *>(grid->indexWidget(grid->currentIndex())); };
        QTRY_COMPARE(editor() ? editor()->text() : QString(), keys.size() > 5 ? "ivanov" : "12345");
        QCOMPARE(f->app->personalModel()->hasPendingRow(), keys.size() > 5);
        closeFromTitleBar();
        QTRY_VERIFY(!window()->isVisible());
        const QStringList rows = test::personalRows(f->db.path());
        QCOMPARE(rows.size(), 2);
        QTEST(rows.last(), "stored");
        QCOMPARE(boxes->count(), 0);
    }
};

int main(int argc, char **argv)
{
    return korvana::test::runDesktopTests<TestDesktop>(argc, argv);
}

#include "tst_desktop.moc"
