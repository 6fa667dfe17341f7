// The main window as the user first sees it: controls, texts, state, focus,
// stacking and size; the scrolling title; the message boxes.
#include "messagecatcher.h"

#include "search/datacontrol.h"
#include "window/controls.h"
#include "window/mainwindow.h"
#include "window/messages.h"
#include "window/titlescroll.h"
#include "window/twips.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTest>
#include <QTimer>

using namespace korvana;

namespace {

QWidget *byName(const MainWindow &window, const QString &name)
{
    return window.findChild<QWidget *>(name);
}

// The control whose pixels the user sees at a point of the window: the
// direct child of the window that holds it.
QString topControlAt(MainWindow &window, QPoint point)
{
    QWidget *hit = window.childAt(point);
    while (hit && hit->parentWidget() != &window)
        hit = hit->parentWidget();
    return hit ? hit->objectName() : QString();
}

QPoint pointAtTwips(const MainWindow &window, double x, double y)
{
    return QPoint(twipsToPixels(x, window.logicalDpi()), twipsToPixels(y, window.logicalDpi()));
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyControlIsThereWithItsKindAndContainer_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("container");
        const QString window = QStringLiteral("frmDataEnv");
        const struct {
            const char *name, *kind, *container;
        } rows[] = {
            {"Frame1", "QGroupBox", "frmDataEnv"},     {"Label1", "QLabel", "Frame1"},
            {"Label2(0)", "QLabel", "Frame1"},         {"Label2(1)", "QLabel", "Frame1"},
            {"Label2(2)", "QLabel", "Frame1"},         {"Label3", "QLabel", "Frame1"},
            {"Label4", "QLabel", "Frame1"},            {"Label5", "QLabel", "Frame1"},
            {"Tent", "QLineEdit", "frmDataEnv"},       {"Tefio", "QLineEdit", "frmDataEnv"},
            {"Testr", "QLineEdit", "frmDataEnv"},      {"Tedom", "QLineEdit", "frmDataEnv"},
            {"Tekv", "QLineEdit", "frmDataEnv"},       {"Command1", "QPushButton", "frmDataEnv"},
            {"Frame2", "QGroupBox", "frmDataEnv"},     {"Command2", "QPushButton", "Frame2"},
            {"Command3", "QPushButton", "Frame2"},     {"Label8", "QLabel", "Frame2"},
            {"Commy", "QComboBox", "Frame2"},          {"Status", "QLabel", "Frame2"},
            {"Frame3", "QGroupBox", "frmDataEnv"},     {"Label6(0)", "QLabel", "Frame3"},
            {"cboPort", "QComboBox", "Frame3"},        {"Label6(1)", "QLabel", "Frame3"},
            {"ATC", "QComboBox", "Frame3"},            {"Text1", "QLineEdit", "Frame2"},
            {"Text2", "QLineEdit", "Frame2"},          {"Text1_p", "QLineEdit", "Frame2"},
            {"Text2_p", "QLineEdit", "Frame2"},        {"Text1_m", "QLineEdit", "frmDataEnv"},
            {"Text2_m", "QLineEdit", "frmDataEnv"},    {"Picture2", "QLabel", "frmDataEnv"},
            {"Image1(0)", "QLabel", "frmDataEnv"},     {"Frame5(0)", "QGroupBox", "frmDataEnv"},
            {"Data1", "korvana::DataControl", "Frame5(0)"}, {"Frame5(1)", "QGroupBox", "frmDataEnv"},
            {"Data2", "korvana::DataControl", "Frame5(1)"}, {"Frame5(2)", "QGroupBox", "frmDataEnv"},
            {"Data3", "korvana::DataControl", "Frame5(2)"}, {"Frame6", "QGroupBox", "frmDataEnv"},
            {"Label7", "QLabel", "Frame6"},            {"TabStrip1", "QTabBar", "frmDataEnv"},
            {"Frame4(0)", "QGroupBox", "frmDataEnv"},  {"DBGrid1", "QTableView", "Frame4(0)"},
            {"Frame4(1)", "QGroupBox", "frmDataEnv"},  {"DBGrid2", "QTableView", "Frame4(1)"},
            {"Frame4(2)", "QGroupBox", "frmDataEnv"},  {"DBGrid3", "QTableView", "Frame4(2)"},
        };
        for (const auto &row : rows)
            QTest::newRow(row.name) << QString::fromLatin1(row.name) << QString::fromLatin1(row.kind)
                                    << QString::fromLatin1(row.container);
        Q_UNUSED(window);
    }
    void everyControlIsThereWithItsKindAndContainer()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, container);
        MainWindow window(96);
        QCOMPARE(window.objectName(), QStringLiteral("frmDataEnv"));
        const QList<QWidget *> found = window.findChildren<QWidget *>(name);
        QCOMPARE(found.size(), 1);
        QVERIFY2(found.first()->inherits(kind.toLatin1()), qPrintable(found.first()->metaObject()->className()));
        QCOMPARE(found.first()->parentWidget()->objectName(), container);
    }

    void textsReadExactly()
    {
        MainWindow window(96);
        const auto labelText = [&](const char *name) {
            return window.findChild<QLabel *>(QLatin1String(name))->text();
        };
        const auto frameTitle = [&](const char *name) {
            return window.findChild<QGroupBox *>(QLatin1String(name))->title();
        };
        QCOMPARE(labelText("Label1"), QStringLiteral("Номер"));
        // The label keeps its trailing blank; the grid heading of the same
        // words does not have one.
        QCOMPARE(labelText("Label2(0)"), QStringLiteral("Ф И О "));
        QCOMPARE(labelText("Label2(1)"), QStringLiteral("Предприятие"));
        QCOMPARE(labelText("Label2(2)"), QStringLiteral("Ф И О "));
        QCOMPARE(labelText("Label3"), QStringLiteral("Улица"));
        QCOMPARE(labelText("Label4"), QStringLiteral("Дом"));
        QCOMPARE(labelText("Label5"), QStringLiteral("Кв"));
        QCOMPARE(labelText("Label8"), QStringLiteral("Журнал звонков"));
        QCOMPARE(labelText("Label6(0)"), QStringLiteral("ПОРТ:"));
        // A Latin k, not the Cyrillic к.
        QCOMPARE(labelText("Label6(1)"), QString::fromUtf8("\xd0\x9f\xd0\xbe\xd0\xb4\xd0\xba\xd0\xbb. k "
                                                           "\xd0\x90\xd0\xa2\xd0\xa1:"));
        QCOMPARE(labelText("Label7"), QStringLiteral("Label7"));
        QCOMPARE(labelText("Status"), QString());
        QCOMPARE(frameTitle("Frame2"), QStringLiteral("Набрать номер"));
        QCOMPARE(frameTitle("Frame3"), QStringLiteral("Мой МОДЕМ"));
        for (const char *untitled : {"Frame4(0)", "Frame4(1)", "Frame4(2)", "Frame5(0)", "Frame5(1)", "Frame5(2)",
                                     "Frame6"})
            QVERIFY2(frameTitle(untitled).isEmpty(), untitled);

        const QString search = frameTitle("Frame1");
        const QString prefix = QStringLiteral("Поиск в справочнике г.");
        QVERIFY2(search.startsWith(prefix) && search.size() > prefix.size() + 1, qPrintable(search));

        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("Command3"))->text(), QStringLiteral("Отмена"));
        QVERIFY(window.findChild<QPushButton *>(QStringLiteral("Command1"))->text().isEmpty());
        QVERIFY(!window.findChild<QPushButton *>(QStringLiteral("Command1"))->icon().isNull());
        QVERIFY(window.findChild<QPushButton *>(QStringLiteral("Command2"))->text().isEmpty());
        QVERIFY(!window.findChild<QPushButton *>(QStringLiteral("Command2"))->icon().isNull());
        QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("Commy"))->currentText(), QStringLiteral("Commy"));

        for (const char *data : {"Data1", "Data2", "Data3"})
            QCOMPARE(window.findChild<DataControl *>(QLatin1String(data))->caption(), QLatin1String(data));
    }

    void hintsKeepTheirBlanksAndDashes()
    {
        MainWindow window(96);
        const QString tent = window.findChild<QLineEdit *>(QStringLiteral("Tent"))->toolTip();
        const QString tefio = window.findChild<QLineEdit *>(QStringLiteral("Tefio"))->toolTip();
        QCOMPARE(tent, QStringLiteral("Для записи образца используются цифры и  символы шаблона ( *, ?).   "
                                      "* — соответствует цепочке цифр, ? — одной цифре"));
        QCOMPARE(tefio, QStringLiteral("Для записи образца используются буквы и  символы шаблона ( *, ?).  "
                                       "Где  * — соответствует цепочке букв, ? — одной букве"));
        QVERIFY(tent.contains(QChar(0x2014)));
        QVERIFY(!tent.contains(QLatin1Char('-')));
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("Command1"))->toolTip(),
                 QStringLiteral("Очистить условие"));
    }

    void tabsCarryCaptionsAndTags()
    {
        MainWindow window(96);
        QTabBar *tabs = window.tabStrip();
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(0), QStringLiteral("Население"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("Предприятия"));
        QCOMPARE(tabs->tabText(2), QStringLiteral("Мой"));
        QCOMPARE(tabs->tabData(0).toString(), QStringLiteral("TagN"));
        QCOMPARE(tabs->tabData(1).toString(), QStringLiteral("TagP"));
        QCOMPARE(tabs->tabData(2).toString(), QStringLiteral("TagM"));
        QCOMPARE(tabs->currentIndex(), 0);
        QVERIFY(tabs->font().bold());
        QCOMPARE(tabs->font().pointSizeF(), 8.25);
        // The grids are laid over the strip, not pages inside it.
        QVERIFY(!tabs->isAncestorOf(window.grid(DirectoryKind::Residents)));
    }

    void startsShowingTheResidentsDirectory()
    {
        MainWindow window(96);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto visible = [&](const char *name) { return byName(window, QLatin1String(name))->isVisible(); };

        QVERIFY(visible("Label2(0)"));
        QVERIFY(!visible("Label2(1)"));
        QVERIFY(visible("Frame5(0)"));
        QVERIFY(visible("Data1"));
        QVERIFY(!visible("Frame5(1)"));
        QVERIFY(!visible("Frame5(2)"));
        // Shown inside their hidden frames, so showing the frame is enough.
        QVERIFY(!byName(window, QStringLiteral("Data2"))->isHidden());
        QVERIFY(!byName(window, QStringLiteral("Data3"))->isHidden());
        for (const char *grid : {"Frame4(0)", "Frame4(1)", "Frame4(2)", "DBGrid1", "DBGrid2", "DBGrid3"})
            QVERIFY2(visible(grid), grid);
        QVERIFY(!visible("Command3"));
        QVERIFY(visible("Command2"));
        for (const char *hiddenField : {"Text1", "Text2", "Text1_p", "Text2_p", "Text1_m", "Text2_m"})
            QVERIFY2(!visible(hiddenField), hiddenField);

        QVERIFY(!byName(window, QStringLiteral("Command1"))->isEnabled());
        QVERIFY(visible("Picture2"));
        QVERIFY(!byName(window, QStringLiteral("Picture2"))->isEnabled());
        QVERIFY(!window.findChild<QLabel *>(QStringLiteral("Picture2"))->pixmap().isNull());
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Picture2"))->pixmap().size(), QSize(181, 150));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Image1(0)"))->pixmap().size(), QSize(536, 5));
        QVERIFY(!window.windowIcon().isNull());
        QVERIFY(window.windowIcon().availableSizes().contains(QSize(32, 32)));
        QVERIFY(window.windowIcon().availableSizes().contains(QSize(16, 16)));
    }

    void focusArrivesInTheNumberFieldAndTabsInDesignOrder()
    {
        MainWindow window(96);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(QApplication::focusWidget(), byName(window, QStringLiteral("Tent")));

        // Command1 is disabled and Command3 hidden: Tab passes them by.
        const QStringList expected = {"Tefio", "Testr", "Tedom", "Tekv", "Command2", "cboPort",
                                      "ATC", "Commy", "TabStrip1", "DBGrid2", "DBGrid1", "DBGrid3"};
        QStringList visited;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QWidget *focus = QApplication::focusWidget();
            QVERIFY(focus);
            QTest::keyClick(focus, Qt::Key_Tab);
            visited << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString());
        }
        QCOMPARE(visited, expected);
        // Back from the first grid to the tab strip.
        window.findChild<QWidget *>(QStringLiteral("DBGrid2"))->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("TabStrip1"));

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
        // In the middle of the directory area the residents' grid is seen.
        QCOMPARE(topControlAt(window, pointAtTwips(window, 4000, 4000)), QStringLiteral("Frame4(0)"));
        // The navigation bar and the count lie over the tab strip's row.
        QCOMPARE(topControlAt(window, pointAtTwips(window, 4500, 2100)), QStringLiteral("Frame5(0)"));
        QCOMPARE(topControlAt(window, pointAtTwips(window, 6200, 2000)), QStringLiteral("Frame6"));
        // The panels cover the picture behind them.
        QCOMPARE(topControlAt(window, pointAtTwips(window, 7500, 700)), QStringLiteral("Frame2"));
        QCOMPARE(topControlAt(window, pointAtTwips(window, 9200, 700)), QStringLiteral("Frame3"));
        // The search fields lie over their frame.
        QCOMPARE(topControlAt(window, pointAtTwips(window, 1300, 1100)), QStringLiteral("Tent"));

        // The next grid frame shows when the front one is hidden.
        byName(window, QStringLiteral("Frame4(0)"))->hide();
        QCOMPARE(topControlAt(window, pointAtTwips(window, 4000, 4000)), QStringLiteral("Frame4(1)"));
        byName(window, QStringLiteral("Frame4(1)"))->hide();
        QCOMPARE(topControlAt(window, pointAtTwips(window, 4000, 4000)), QStringLiteral("Frame4(2)"));
        // Once the panels are hidden (no modem) the picture is no longer covered.
        byName(window, QStringLiteral("Frame2"))->hide();
        byName(window, QStringLiteral("Frame3"))->hide();
        QCOMPARE(topControlAt(window, pointAtTwips(window, 7500, 700)), QStringLiteral("Picture2"));
    }

    void designPlacesConvertAtTheScreenResolution_data()
    {
        QTest::addColumn<qreal>("dpi");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("pixels");
        // 15 twips to a pixel at 96 dpi, 12 at 120.
        QTest::newRow("Tent 96") << qreal(96) << "Tent" << QRect(72, 64, 41, 19);
        QTest::newRow("Frame1 96") << qreal(96) << "Frame1" << QRect(0, 0, 345, 97);
        QTest::newRow("DBGrid1 96") << qreal(96) << "DBGrid1" << QRect(0, 8, 646, 275);
        QTest::newRow("Tent 120") << qreal(120) << "Tent" << QRect(90, 80, 51, 24);
        QTest::newRow("Label7 120") << qreal(120) << "Label7" << QRect(10, 15, 71, 15);
    }
    void designPlacesConvertAtTheScreenResolution()
    {
        QFETCH(qreal, dpi);
        QFETCH(QString, name);
        QFETCH(QRect, pixels);
        MainWindow window(dpi);
        QCOMPARE(byName(window, name)->geometry(), pixels);
    }

    void gridsLookAsDesigned()
    {
        MainWindow window(96);
        for (const DirectoryKind kind : {DirectoryKind::Residents, DirectoryKind::Enterprises, DirectoryKind::Personal}) {
            QTableView *grid = window.grid(kind);
            QVERIFY(grid->showGrid());
            QVERIFY(grid->verticalHeader()->isVisibleTo(grid));
            QVERIFY2(grid->verticalHeader()->width() <= 20, "the record selector is a narrow column");
            QVERIFY(grid->horizontalHeader()->isVisibleTo(grid));
            QCOMPARE(grid->horizontalHeader()->font().pointSizeF(), 8.25);
            QCOMPARE(grid->font().pointSizeF(), kind == DirectoryKind::Enterprises ? 8.25 : 12.0);
        }
        QVERIFY(window.grid(DirectoryKind::Personal)->editTriggers() != QAbstractItemView::NoEditTriggers);

        // The layout pass changes the cells' text; the headings stay, the
        // rows follow the text.
        QTableView *residents = window.grid(DirectoryKind::Residents);
        window.setGridCellPointSize(DirectoryKind::Residents, 18);
        QCOMPARE(residents->font().pointSizeF(), 18.0);
        QCOMPARE(residents->horizontalHeader()->font().pointSizeF(), 8.25);
        QVERIFY(residents->verticalHeader()->defaultSectionSize() >= QFontMetrics(residents->font()).height());
        window.setGridCellPointSize(DirectoryKind::Residents, 8);
        QVERIFY(residents->verticalHeader()->defaultSectionSize() < QFontMetrics(QFont(residents->font().family(), 18)).height());
        QCOMPARE(window.grid(DirectoryKind::Personal)->font().pointSizeF(), 12.0);
    }

    void recordSelectorPointsAtTheCurrentRow()
    {
        MainWindow window(96);
        QStandardItemModel model(4, 7);
        DirectoryGrid *grid = window.grid(DirectoryKind::Residents);
        grid->setModel(&model);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QHeaderView *selector = grid->verticalHeader();
        const auto darkPixelsInRow = [&](int row) {
            const QImage image = selector->viewport()->grab().toImage();
            int dark = 0;
            const int top = selector->sectionViewportPosition(row);
            for (int y = top; y < top + selector->sectionSize(row); ++y)
                for (int x = 0; x < image.width(); ++x)
                    dark += qGray(image.pixel(x, y)) < 80;
            return dark;
        };
        grid->setCurrentIndex(model.index(2, 3));
        QVERIFY(darkPixelsInRow(2) > 3);
        QCOMPARE(darkPixelsInRow(1), 0);
        // No row numbers: the column stays narrow for any count.
        QCOMPARE(darkPixelsInRow(3), 0);
        grid->setCurrentIndex(model.index(1, 0));
        QVERIFY(darkPixelsInRow(1) > 3);
        QCOMPARE(darkPixelsInRow(2), 0);
    }

    void titleScrollsOneCharacterPerTick()
    {
        const QString ad = advertisingCaption();
        QCOMPARE(ad.size(), 250);
        QVERIFY(ad.contains(QStringLiteral("Корвана")));
        QCOMPARE(scrollCaption(QStringLiteral("Абв")), QStringLiteral("бвА"));
        QCOMPARE(scrollCaption(QStringLiteral("Я")), QStringLiteral("Я"));
        QCOMPARE(scrollCaption(QString()), QString());
        QCOMPARE(scrollCaption(QStringLiteral(" ")), QStringLiteral(" "));

        MainWindow window(96);
        QCOMPARE(window.windowTitle(), ad);
        QTimer *timer = window.findChild<QTimer *>(QStringLiteral("Timer1"));
        QVERIFY(timer);
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 300);

        // Each tick moves the title by one character and announces itself
        // after the move.
        QStringList titlesAtTick;
        connect(&window, &MainWindow::ticked, this, [&] { titlesAtTick << window.windowTitle(); });
        QTRY_VERIFY_WITH_TIMEOUT(titlesAtTick.size() >= 2, 2000);
        timer->stop();
        QString expected = ad;
        for (const QString &seen : std::as_const(titlesAtTick)) {
            expected = scrollCaption(expected);
            QCOMPARE(seen, expected);
        }
        QCOMPARE(window.windowTitle(), expected);
        QVERIFY(window.windowTitle().startsWith(ad.mid(titlesAtTick.size(), 10)));
    }

    void messagesAreRecordedWithTheirExactText()
    {
        test::MessageCatcher catcher;
        catcher.answerNext(MessageAnswer::No);
        const MessageAnswer copy = showMessage(nullptr, {QStringLiteral("Копировать запись?"), QStringLiteral("Иванов")},
                                               MessageIcon::None, MessageButtons::YesNo);
        QCOMPARE(copy, MessageAnswer::No);
        const MessageAnswer warning = showMessage(nullptr, {QStringLiteral("Ошибка"), QStringLiteral("Нажмите <Enter> или <OK>")},
                                                  MessageIcon::Critical, MessageButtons::Ok);
        QCOMPARE(warning, MessageAnswer::Ok);
        // Unqueued, a question gets the default answer.
        QCOMPARE(showMessage(nullptr, {QStringLiteral("?")}, MessageIcon::None, MessageButtons::YesNo),
                 MessageAnswer::Yes);

        QCOMPARE(catcher.count(), 3);
        QCOMPARE(catcher.messages().at(0).text, QStringLiteral("Копировать запись?\rИванов"));
        QCOMPARE(catcher.messages().at(0).buttons, MessageButtons::YesNo);
        QCOMPARE(catcher.messages().at(0).icon, MessageIcon::None);
        QCOMPARE(catcher.messages().at(1).text, QStringLiteral("Ошибка\rНажмите <Enter> или <OK>"));
        QCOMPARE(catcher.messages().at(1).icon, MessageIcon::Critical);
        QCOMPARE(catcher.messages().at(1).buttons, MessageButtons::Ok);

        // An inner catcher sees only its own messages, and the outer one
        // answers again once it is gone.
        {
            test::MessageCatcher inner;
            showMessage(nullptr, {QStringLiteral("внутри")});
            QCOMPARE(inner.count(), 1);
        }
        showMessage(nullptr, {QStringLiteral("снаружи")});
        QCOMPARE(catcher.count(), 4);
        QCOMPARE(catcher.last().text, QStringLiteral("снаружи"));
    }

    void aRealMessageBoxIsModalTitledAndDefaultsToYes()
    {
        QString title, text;
        bool yesIsDefault = false;
        QMessageBox::Icon icon = QMessageBox::Critical;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            yesIsDefault = box->defaultButton() == box->button(QMessageBox::Yes);
            box->button(QMessageBox::No)->click();
        });
        const MessageAnswer answer = showMessage(nullptr, {QStringLiteral("Первая"), QStringLiteral("Вторая")},
                                                 MessageIcon::None, MessageButtons::YesNo);
        QCOMPARE(answer, MessageAnswer::No);
        QCOMPARE(title, QStringLiteral("Korvana"));
        // Shown on two lines on the screen.
        QCOMPARE(text, QStringLiteral("Первая\nВторая"));
        QCOMPARE(icon, QMessageBox::NoIcon);
        QVERIFY(yesIsDefault);

        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            icon = box->icon();
            QVERIFY(!box->button(QMessageBox::No));
            QTest::keyClick(box, Qt::Key_Return);
        });
        QCOMPARE(showMessage(nullptr, {QStringLiteral("Ошибка")}, MessageIcon::Critical), MessageAnswer::Ok);
        QCOMPARE(icon, QMessageBox::Critical);
    }

};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
