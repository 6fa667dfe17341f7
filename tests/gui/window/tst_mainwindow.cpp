// The main window as the user first sees it: controls, texts, state, focus
// and stacking; the scrolling title; the message boxes.
#include "messagecatcher.h"

#include "core/window/titlescroll.h"
#include "core/window/twips.h"
#include "gui/window/controls.h"
#include "gui/window/mainwindow.h"
#include "gui/window/messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
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
    void everyControlIsThereWithItsKindAndContainer()
    {
        MainWindow window(96);
        // container, kind, then the names of that kind in it
        const QStringList groups = {
            "frmDataEnv QGroupBox Frame1 Frame2 Frame3 Frame4(0) Frame4(1) Frame4(2) Frame5(0) Frame5(1) Frame5(2) Frame6",
            "frmDataEnv QLineEdit Tent Tefio Testr Tedom Tekv Text1_m Text2_m", "frmDataEnv QPushButton Command1",
            "frmDataEnv QLabel Picture2 Image1(0)", "frmDataEnv QTabBar TabStrip1",
            "Frame1 QLabel Label1 Label2(0) Label2(1) Label2(2) Label3 Label4 Label5", "Frame2 QLabel Label8 Status",
            "Frame2 QPushButton Command2 Command3", "Frame2 QComboBox Commy", "Frame2 QLineEdit Text1 Text2 Text1_p Text2_p",
            "Frame3 QLabel Label6(0) Label6(1)", "Frame3 QComboBox cboPort ATC", "Frame6 QLabel Label7",
            "Frame5(0) korvana::DataControl Data1", "Frame5(1) korvana::DataControl Data2",
            "Frame5(2) korvana::DataControl Data3", "Frame4(0) QTableView DBGrid1", "Frame4(1) QTableView DBGrid2",
            "Frame4(2) QTableView DBGrid3"};
        for (const QString &group : groups) {
            const QStringList w = group.split(u' ');
            for (const QString &name : w.mid(2)) {
                const QList<QWidget *> found = window.findChildren<QWidget *>(name);
                QVERIFY2(found.size() == 1, qPrintable(name));
                QVERIFY2(found.first()->inherits(w[1].toLatin1()), qPrintable(name));
                QVERIFY2(found.first()->parentWidget()->objectName() == w[0], qPrintable(name));
            }
        }
    }

    void textsAndHintsReadExactly()
    {
        MainWindow window(96);
        // Labels, frame titles, button and box texts, exactly.
        const QList<std::pair<const char *, QString>> texts = {
            {"Label1", "Номер"}, {"Label2(0)", "Ф И О "}, {"Label2(1)", "Предприятие"}, {"Label2(2)", "Ф И О "},
            {"Label3", "Улица"}, {"Label4", "Дом"}, {"Label5", "Кв"}, {"Label8", "Журнал звонков"},
            {"Label6(0)", "ПОРТ:"}, {"Label7", "Label7"}, {"Status", ""}, {"Frame2", "Набрать номер"},
            {"Frame3", "Мой МОДЕМ"}, {"Frame4(0)", ""}, {"Frame4(1)", ""}, {"Frame4(2)", ""}, {"Frame5(0)", ""},
            {"Frame5(1)", ""}, {"Frame5(2)", ""}, {"Frame6", ""}, {"Command1", ""}, {"Command2", ""},
            {"Command3", "Отмена"}, {"Commy", "Commy"}, {"Label6(1)", "Подкл. k АТС:"}}; // a Latin k, not к
        for (const auto &[name, text] : texts) {
            QWidget *w = byName(window, QLatin1String(name));
            const char *property = w->inherits("QGroupBox") ? "title" : w->inherits("QComboBox") ? "currentText" : "text";
            QVERIFY2(w->property(property).toString() == text, name);
        }
        QVERIFY(byName(window, "Frame1")->property("title").toString().startsWith(QStringLiteral("Поиск в справочнике г. ")));
        for (const char *iconButton : {"Command1", "Command2"})
            QVERIFY(!window.findChild<QPushButton *>(QLatin1String(iconButton))->icon().isNull());
        QTabBar *tabs = window.searchPanel().tabs;
        QCOMPARE(tabs->count(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(tabs->tabText(i) + u' ' + tabs->tabData(i).toString(),
                     (QStringList{"Население TagN", "Предприятия TagP", "Мой TagM"}[i]));

        // Hints keep their double blanks and em dashes.
        QCOMPARE(byName(window, QStringLiteral("Tent"))->toolTip(),
                 QStringLiteral("Для записи образца используются цифры и  символы шаблона ( *, ?).   "
                                "* — соответствует цепочке цифр, ? — одной цифре"));
        QCOMPARE(byName(window, QStringLiteral("Tefio"))->toolTip(),
                 QStringLiteral("Для записи образца используются буквы и  символы шаблона ( *, ?).  "
                                "Где  * — соответствует цепочке букв, ? — одной букве"));
        QCOMPARE(byName(window, QStringLiteral("Command1"))->toolTip(), QStringLiteral("Очистить условие"));
    }

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

    void messagesGoThroughOneSeam()
    {
        test::MessageCatcher catcher;
        catcher.answerNext(MessageAnswer::No);
        QCOMPARE(showMessage(nullptr, {QStringLiteral("Копировать запись?"), QStringLiteral("Иванов")},
                             MessageIcon::Critical, MessageButtons::YesNo),
                 MessageAnswer::No);
        QCOMPARE(catcher.count(), 1);
        QCOMPARE(catcher.last().text, QStringLiteral("Копировать запись?\rИванов"));
        QCOMPARE(catcher.last().icon, MessageIcon::Critical);
        QCOMPARE(catcher.last().buttons, MessageButtons::YesNo);
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
