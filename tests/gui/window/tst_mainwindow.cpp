// The main window as the user first sees it: state, focus and stacking; the
// scrolling title; the real message box.
#include "core/window/titlescroll.h"
#include "core/window/twips.h"
#include "gui/window/controls.h"
#include "gui/window/mainwindow.h"
#include "gui/window/messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace korvana;

namespace {

QWidget *byName(const MainWindow &window, const QString &name)
{
    return window.findChild<QWidget *>(name);
}

// The control whose pixels the user sees at a point given in twips: the
// direct child of the window that holds it.
QString topControlAt(MainWindow &window, double x, double y)
{
    QWidget *hit = window.childAt(twipsToPixels(x, window.logicalDpi()), twipsToPixels(y, window.logicalDpi()));
    while (hit && hit->parentWidget() != &window)
        hit = hit->parentWidget();
    return hit ? hit->objectName() : QString();
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startsShowingTheResidentsDirectoryWithFocusInTent()
    {
        MainWindow window(96);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const auto visible = [&](const char *name) { return byName(window, QLatin1String(name))->isVisible(); };
        for (const char *shown : {"Label2(0)", "Frame5(0)", "Data1", "Frame4(0)", "Frame4(1)", "Frame4(2)", "DBGrid1",
                                  "DBGrid2", "DBGrid3", "Command2", "Picture2"})
            QVERIFY2(visible(shown), shown);
        for (const char *hidden : {"Label2(1)", "Frame5(1)", "Frame5(2)", "Command3", "Text1", "Text2", "Text1_p",
                                   "Text2_p", "Text1_m", "Text2_m"})
            QVERIFY2(!visible(hidden), hidden);
        // Shown inside their hidden frames, so showing the frame is enough.
        QVERIFY(!byName(window, QStringLiteral("Data2"))->isHidden() && !byName(window, QStringLiteral("Data3"))->isHidden());
        QVERIFY(!byName(window, QStringLiteral("Command1"))->isEnabled());
        QVERIFY(!byName(window, QStringLiteral("Picture2"))->isEnabled());

        QCOMPARE(QApplication::focusWidget(), byName(window, QStringLiteral("Tent")));
        // Command1 is disabled and Command3 hidden: Tab passes them by.
        const QStringList expected = {"Tefio", "Testr", "Tedom", "Tekv", "Command2", "cboPort",
                                      "ATC", "Commy", "TabStrip1", "DBGrid2", "DBGrid1", "DBGrid3"};
        QStringList visited;
        for (qsizetype i = 0; i < expected.size() && QApplication::focusWidget(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString());
        }
        QCOMPARE(visited, expected);
        // Once enabled, the clear button comes before the number field.
        byName(window, QStringLiteral("Command1"))->setEnabled(true);
        byName(window, QStringLiteral("Tent"))->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command1"));
    }

    void frontControlsCoverTheOnesBehind()
    {
        MainWindow window(96);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(topControlAt(window, 4000, 4000), QStringLiteral("Frame4(0)")); // the residents' grid
        // The navigation bar and the count lie over the tab strip's row.
        QCOMPARE(topControlAt(window, 4500, 2100), QStringLiteral("Frame5(0)"));
        QCOMPARE(topControlAt(window, 6200, 2000), QStringLiteral("Frame6"));
        // The panels cover the picture behind them; the search fields lie over their frame.
        QCOMPARE(topControlAt(window, 7500, 700), QStringLiteral("Frame2"));
        QCOMPARE(topControlAt(window, 9200, 700), QStringLiteral("Frame3"));
        QCOMPARE(topControlAt(window, 1300, 1100), QStringLiteral("Tent"));
        // The next grid frame shows when the front one is hidden.
        byName(window, QStringLiteral("Frame4(0)"))->hide();
        QCOMPARE(topControlAt(window, 4000, 4000), QStringLiteral("Frame4(1)"));
        // Once the panels are hidden (no modem) the picture is no longer covered.
        byName(window, QStringLiteral("Frame2"))->hide();
        byName(window, QStringLiteral("Frame3"))->hide();
        QCOMPARE(topControlAt(window, 7500, 700), QStringLiteral("Picture2"));
    }

    void titleScrollsOneCharacterPerTick()
    {
        const QString ad = advertisingCaption();
        QCOMPARE(ad.size(), 250);
        QCOMPARE(scrollCaption(QStringLiteral("Абв")), QStringLiteral("бвА"));
        QCOMPARE(scrollCaption(QString()), QString());

        MainWindow window(96);
        QCOMPARE(window.windowTitle(), ad);
        QTimer *timer = window.findChild<QTimer *>(QStringLiteral("Timer1"));
        QVERIFY(timer && timer->isActive());
        QCOMPARE(timer->interval(), 300);
        // Each tick moves the title by one character and announces itself after the move.
        QStringList titlesAtTick;
        connect(&window, &MainWindow::ticked, this, [&] { titlesAtTick << window.windowTitle(); });
        QTRY_VERIFY(titlesAtTick.size() >= 2);
        timer->stop();
        for (qsizetype i = 0; i < titlesAtTick.size(); ++i)
            QCOMPARE(titlesAtTick[i], ad.mid(i + 1) + ad.left(i + 1));
    }

    void aRealMessageBoxIsModalTitledInRussianAndDefaultsToYes()
    {
        QString title, text, yes, no;
        bool yesIsDefault = false;
        QMessageBox::Icon icon = QMessageBox::Critical;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            yesIsDefault = box->defaultButton() == box->button(QMessageBox::Yes);
            yes = box->button(QMessageBox::Yes)->text();
            no = box->button(QMessageBox::No)->text();
            box->button(QMessageBox::No)->click();
        });
        QCOMPARE(showMessage(nullptr, {QStringLiteral("Первая"), QStringLiteral("Вторая")}, MessageIcon::None,
                             MessageButtons::YesNo),
                 MessageAnswer::No);
        QCOMPARE(title, QStringLiteral("Korvana"));
        QCOMPARE(text, QStringLiteral("Первая\nВторая")); // two lines on the screen
        QCOMPARE(icon, QMessageBox::NoIcon);
        QVERIFY(yesIsDefault);
        QCOMPARE(yes + u'/' + no, QStringLiteral("Да/Нет"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
