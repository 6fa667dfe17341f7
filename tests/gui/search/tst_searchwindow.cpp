// Searching as the user types, on the real window and a small directory file.
#include "appfixture.h"
#include "core/search/recordsource.h"
#include "gui/search/searchcontroller.h"
#include "gui/window/datacontrol.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTabBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace korvana;
using korvana::test::AppFixture;

class TestSearchWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<AppFixture> f;

    int searches() const { return f->app->search()->searchCount(); }
    void focus(const char *name)
    {
        QLineEdit *field = f->field(name);
        field->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(field->hasFocus());
    }

private Q_SLOTS:
    void init() { f = std::make_unique<AppFixture>(); }
    void cleanup() { f.reset(); }

    // The first search runs at start; then one search per keystroke.
    void typingSearchesEveryKeystroke()
    {
        QTRY_VERIFY(f->field("Tent")->hasFocus());
        QCOMPARE(f->app->source(DirectoryKind::Residents)->queryText(), QStringLiteral("Select * From NASELEN ORDER BY N_tel"));
        QCOMPARE(f->count(), QStringLiteral("из 10"));
        QVERIFY(f->control<QWidget>("Frame4(0)")->isVisible());
        QVERIFY(f->messages.texts().isEmpty());

        focus("Tefio");
        const int before = searches();
        test::typeInto(f->field("Tefio"), QStringLiteral("пЕт"));
        QCOMPARE(searches(), before + 3);
        QCOMPARE(f->column(1, 1), QStringList({"Петров П.П.", "петров п.п.", "ПЕТРОВА Н.Н."}));
        QCOMPARE(f->count(), QStringLiteral("из 3"));
        QCOMPARE(f->caption(1), QStringLiteral("1"));
        QCOMPARE(f->commy(), QStringLiteral("21734 Петров П.П."));

        // The clear button follows the criteria at the next tick of the timer.
        auto *clear = f->control<QAbstractButton>("Command1");
        QVERIFY(!clear->isEnabled());
        QTRY_VERIFY(clear->isEnabled());

        // Choosing a row moves the position display and the dial box.
        auto *grid = f->control<QTableView>("DBGrid1");
        grid->setCurrentIndex(grid->model()->index(2, 1));
        QCOMPARE(f->caption(1), QStringLiteral("3"));
        QCOMPARE(f->commy(), QStringLiteral("24408 ПЕТРОВА Н.Н."));

        // The navigation bar steps within the result and stops at its ends.
        auto *bar = f->app->window()->directory(DirectoryKind::Residents).data;
        bar->lastButton()->click();
        bar->nextButton()->click();
        QCOMPARE(f->caption(1), QStringLiteral("3"));
        QCOMPARE(f->count(), QStringLiteral("из 3"));
        bar->firstButton()->click();
        bar->previousButton()->click();
        QCOMPARE(f->caption(1), QStringLiteral("1"));
        QCOMPARE(f->commy(), QStringLiteral("21734 Петров П.П."));
        grid->setCurrentIndex(grid->model()->index(2, 1));

        // Moving the focus re-sorts without any change of text.
        focus("Testr");
        QCOMPARE(f->column(1, 2), QStringList({"Лесная", "садовая", "Садовая"})); // then house 1 before 12
        QCOMPARE(f->app->search()->sortField(), SortField(3));
    }

    // The clear button disabled while the window is away: the focus waits
    // in the field whose order the cleared list keeps, and the window coming
    // back is no arrival there.
    void clearedWhileTheWindowIsAway()
    {
        focus("Tefio");
        test::typeInto(f->field("Tefio"), QStringLiteral("п"));
        auto *clear = f->control<QAbstractButton>("Command1");
        QTRY_VERIFY(clear->isEnabled());
        clear->setFocus(Qt::MouseFocusReason);
        clear->click();
        QApplication::setActiveWindow(nullptr);
        QTRY_VERIFY(!clear->isEnabled());
        const int before = searches();
        QApplication::setActiveWindow(f->app->window());
        QTRY_VERIFY(f->field("Tefio")->hasFocus());
        QCOMPARE(searches(), before);
        QCOMPARE(f->app->search()->sortField(), SortField::Name);
    }

    // A refused house or flat text keeps the list but counts in the next
    // search started elsewhere; mended, it is searched at once.
    void refusedDigitsWaitForTheNextSearch()
    {
        focus("Tedom");
        test::typeInto(f->field("Tedom"), QStringLiteral("1а"));
        QCOMPARE(f->messages.count(), 1);
        const int before = searches();
        QTest::keyClick(f->field("Tedom"), Qt::Key_Backspace);
        QCOMPARE(searches(), before + 1);
        QCOMPARE(f->count(), QStringLiteral("из 7"));
        f->field("Tekv")->setText(QStringLiteral("5x"));
        QCOMPARE(f->messages.count(), 2);
        focus("Tefio");
        QVERIFY(f->app->source(DirectoryKind::Residents)->queryText().contains(QStringLiteral("Left(Trim(KVART),2) = '5x'")));
    }

    void tabsKeepTheCriteria()
    {
        focus("Tefio");
        test::typeInto(f->field("Tefio"), QStringLiteral("апт"));
        // An empty result: position 0, a blank dial box.
        QCOMPARE(f->count(), QStringLiteral("из 0"));
        QCOMPARE(f->caption(1), QStringLiteral("0"));
        QCOMPARE(f->commy(), QStringLiteral(" "));
        auto *tabs = f->control<QTabBar>("TabStrip1");
        const int before = searches();
        tabs->setCurrentIndex(1);
        QCOMPARE(searches(), before + 1);
        QCOMPARE(f->app->source(DirectoryKind::Enterprises)->queryText(),
                 QStringLiteral("Select * From PREDPR WHERE PREDPR like 'апт*' ORDER BY PREDPR, PRIM"));
        QCOMPARE(f->column(2, 0), QStringList({"аптека №12", "Аптека №5"}));
        QCOMPARE(f->count(), QStringLiteral("из 2"));
        QCOMPARE(f->commy(), QStringLiteral("34212 аптека №12"));
        QVERIFY(f->control<QWidget>("Frame4(1)")->isVisible());
        QVERIFY(!f->control<QWidget>("Frame4(0)")->isVisible());
        QVERIFY(f->control<QWidget>("Frame5(1)")->isVisible());

        // Choosing the tab that is shown does nothing, not even a search.
        f->app->search()->tabChosen(DirectoryKind::Enterprises);
        QCOMPARE(searches(), before + 1);

        tabs->setCurrentIndex(2);
        QCOMPARE(f->app->source(DirectoryKind::Personal)->queryText(),
                 QStringLiteral("Select * From kadu.Note WHERE FAMILY like 'апт*' ORDER BY FAMILY"));
        QVERIFY(f->control<QWidget>("Frame4(2)")->isVisible());
    }
};

QTEST_MAIN(TestSearchWindow)
#include "tst_searchwindow.moc"
