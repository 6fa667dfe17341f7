// Calling without a modem from the real window: the QR code read back by a
// real decoder, refused numbers, the dial prefix, and the grid's copy keys.
#include "appfixture.h"
#include "gui/dialer/dialerpanel.h"
#include "gui/dialer/qrcodewindow.h"
#include "gui/search/gridmenu.h"
#include "gui/window/controls.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace korvana;
using korvana::test::AppFixture;

namespace {

const QString kBadPrefix = QStringLiteral(
    "Префикс номера в настройках Korvana ([Dial] Prefix) задан неверно.\r"
    "Нужны только цифры (не больше 15), в начале может стоять +, например +38044.\r"
    "Без модема номер не набирается, пока префикс не исправлен.");

// Second exchange, Com3 shows QR codes; `settings` is the settings file's text.
std::function<void(test::TestDb &)> folderWith(const QByteArray &settings)
{
    return [=](test::TestDb &db) {
        test::withFile(QStringLiteral("kadumy.txt"), "1\r\n3\r\n")(db);
        test::withFile(QStringLiteral("settings.ini"), "[Ports]\nCom3=qr:\n" + settings)(db);
    };
}

} // namespace

class TestLinkDial : public QObject {
    Q_OBJECT
    std::unique_ptr<AppFixture> f;
    QTimer watcher;
    // What the QR windows shown so far held: the decoded code, the number, the name.
    QList<QStringList> shown;
    Qt::Key closeKey = Qt::Key_Escape;

    QAbstractButton *dialButton() { return f->control<QAbstractButton>(QStringLiteral("Command2")); }
    QComboBox *commy() { return f->control<QComboBox>(QStringLiteral("Commy")); }
    DirectoryGrid *grid(DirectoryKind kind) { return f->app->window()->grid(kind); }
    GridMenu *menuOf(DirectoryKind kind)
    {
        for (GridMenu *m : f->app->findChildren<GridMenu *>())
            if (m->copyNumberAction()->parent() == grid(kind))
                return m;
        return nullptr;
    }

    void choose(const QString &number)
    {
        f->field("Tent")->setText(number);
        QCOMPARE(f->commy().left(number.size()), number);
    }

    // The clipboard after Ctrl+C on the grid, or after the menu's row copy.
    QString copied(DirectoryKind kind, bool row = false)
    {
        DirectoryGrid *g = grid(kind);
        if (row) {
            menuOf(kind)->copyRowAction()->trigger();
        } else {
            g->setFocus();
            if (!QTest::qWaitFor([&] { return g->hasFocus(); }, 5000))
                return QStringLiteral("(no focus)");
            QTest::keyClick(g, Qt::Key_C, Qt::ControlModifier);
        }
        return QApplication::clipboard()->text();
    }

    static QString decode(const QImage &image)
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("qr.png"));
        if (!image.save(path))
            return QStringLiteral("(not saved)");
        QProcess zbar;
        zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), path});
        if (!zbar.waitForFinished(10000))
            return QStringLiteral("(zbarimg did not run: %1)").arg(zbar.errorString());
        return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
    }

    // Black and white only: a module blurred into grey by scaling makes
    // the code harder for a camera.
    static bool sharp(const QImage &image)
    {
        const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < rgb.height(); ++y)
            for (int x = 0; x < rgb.width(); ++x)
                if (const QRgb p = rgb.pixel(x, y); p != qRgb(0, 0, 0) && p != qRgb(255, 255, 255))
                    return false;
        return true;
    }

    // The QR window while it is up: read back and closed with `closeKey`.
    void lookForQrWindow()
    {
        auto *w = qobject_cast<QrCodeWindow *>(QApplication::activeModalWidget());
        if (!w || !w->isVisible())
            return;
        auto *code = w->findChild<QrCodeView *>();
        shown << QStringList{decode(w->grab().toImage()),
                             w->findChild<QLabel *>(QStringLiteral("QrNumber"))->text(),
                             w->findChild<QLabel *>(QStringLiteral("QrName"))->text(),
                             QString::number(code->modules()),
                             sharp(code->grab().toImage()) ? QStringLiteral("sharp") : QStringLiteral("blurred")};
        QTest::keyClick(w, closeKey);
    }

private Q_SLOTS:
    void initTestCase()
    {
        watcher.setInterval(20);
        connect(&watcher, &QTimer::timeout, this, &TestLinkDial::lookForQrWindow);
    }

    void init()
    {
        f = std::make_unique<AppFixture>(folderWith({}));
        shown.clear();
        closeKey = Qt::Key_Escape;
        watcher.start();
    }

    void cleanup()
    {
        watcher.stop();
        f.reset();
    }

    void qrCodeReadsBack_data()
    {
        QTest::addColumn<QString>("number");   // chosen in the residents
        QTest::addColumn<QString>("typed");    // or typed into Commy
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<int>("key");
        QTest::addColumn<QStringList>("expected");
        // Modules across: version 1 is 21, version 2 is 25, and four of
        // quiet zone on each side. The longest link, with a prefix of 15
        // digits, needs version 2 at error correction M (version 1 at L).
        QTest::newRow("plain entry") << QStringLiteral("93020") << QString() << QString() << int(Qt::Key_Escape)
                                     << QStringList{"tel:93020", "93020", "Тест_100%", "29", "sharp"};
        QTest::newRow("blanks and dashes") << QString() << QStringLiteral("2-0 9 Иван") << QString()
                                           << int(Qt::Key_Return) << QStringList{"tel:209", "209", "Иван", "29", "sharp"};
        QTest::newRow("longest prefix") << QStringLiteral("21734") << QString() << QStringLiteral("+123456789012345")
                                        << int(Qt::Key_Enter)
                                        << QStringList{"tel:+12345678901234521734", "+12345678901234521734",
                                                       "Петров П.П.", "33", "sharp"};
    }

    // The dial button shows the code; no port is opened and the entry
    // joins the my-numbers list as after a modem call.
    void qrCodeReadsBack()
    {
        QFETCH(QString, number);
        QFETCH(QString, typed);
        QFETCH(QString, prefix);
        QFETCH(int, key);
        QFETCH(QStringList, expected);
        f->settings->setValue(QStringLiteral("Dial/Prefix"), prefix);
        if (number.isEmpty())
            commy()->setEditText(typed);
        else
            choose(number);
        const QString entry = f->commy();
        closeKey = Qt::Key(key);
        dialButton()->click();
        QCOMPARE(shown, QList<QStringList>{expected});
        QVERIFY(!f->app->dialer()->attempt().isRunning());
        QCOMPARE(commy()->itemText(commy()->count() - 1), entry);
        QVERIFY(f->messages.texts().isEmpty());
    }

    void refusedEntries_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("message");
        QTest::newRow("letters only") << QStringLiteral("Spravka Taxi") << QString()
                                      << QStringLiteral("Нет номера для набора. Выберите запись с номером.");
        QTest::newRow("control characters")
            << QStringLiteral("2\x01\x1b[9") << QString()
            << QStringLiteral("В номере есть знаки, кроме цифр. Такой номер не набирается.");
        QTest::newRow("malformed prefix") << QStringLiteral("93020") << QStringLiteral("380-44") << kBadPrefix;
    }

    // A message, no window, nothing remembered.
    void refusedEntries()
    {
        QFETCH(QString, typed);
        QFETCH(QString, prefix);
        QFETCH(QString, message);
        f->settings->setValue(QStringLiteral("Dial/Prefix"), prefix);
        commy()->setEditText(typed);
        const int items = commy()->count();
        dialButton()->click();
        QCOMPARE(f->messages.texts(), QStringList{message});
        QCOMPARE(f->messages.last().icon, MessageIcon::None);
        QVERIFY(shown.isEmpty()); // the window is modal: it would have come and gone in the click
        QCOMPARE(commy()->count(), items);
    }

    // A malformed prefix is said at start too.
    void malformedPrefixAtStart()
    {
        f.reset();
        f = std::make_unique<AppFixture>(folderWith("[Dial]\nPrefix=380-44\n"));
        QCOMPARE(f->messages.texts(), QStringList{kBadPrefix});
    }

    // The menu of a row works on that row; its QR code leaves the list alone.
    void rowMenu()
    {
        DirectoryGrid *g = grid(DirectoryKind::Residents);
        GridMenu *menu = menuOf(DirectoryKind::Residents);
        QVERIFY(menu);
        const int row = 2;
        emit g->customContextMenuRequested(g->visualRect(g->model()->index(row, 1)).center());
        auto *popup = g->findChild<QMenu *>(QStringLiteral("GridMenu"));
        QVERIFY(popup);
        QCOMPARE(g->currentIndex().row(), row);
        popup->close();

        const QString link = "tel:" + g->model()->index(row, 0).data().toString();
        const int items = commy()->count();
        menu->qrCodeAction()->trigger();
        QTRY_COMPARE(shown.size(), 1);
        QCOMPARE(shown.last().first(), link);
        QCOMPARE(commy()->count(), items);
        menu->dialAction()->trigger();
        QTRY_COMPARE(shown.size(), 2);
        QCOMPARE(shown.last().first(), link);
        QCOMPARE(commy()->count(), items + 1);
    }

    void copyNumberAndRow()
    {
        choose(QStringLiteral("23100"));
        QCOMPARE(copied(DirectoryKind::Residents), QStringLiteral("23100"));
        QCOMPARE(copied(DirectoryKind::Residents, true), QStringLiteral("23100\tЕлисеев Е.Е.\tЛесопарковая\t15\tб\t7\t1"));

        // The enterprises' number is not their first column.
        f->control<QTabBar>(QStringLiteral("TabStrip1"))->setCurrentIndex(1);
        choose(QStringLiteral("22304"));
        QCOMPARE(copied(DirectoryKind::Enterprises), QStringLiteral("22304"));
        const QString row = QStringLiteral("Школа №3\t22304\t  директор  \tСадовая\t15\t\t\t");
        QCOMPARE(copied(DirectoryKind::Enterprises, true), row);

        // No entry found: nothing to copy, the clipboard keeps its text.
        f->field("Tent")->setText(QStringLiteral("999"));
        QCOMPARE(f->count(), QStringLiteral("из 0"));
        QCOMPARE(copied(DirectoryKind::Enterprises), row);
        QCOMPARE(copied(DirectoryKind::Enterprises, true), row);
    }

    // Ctrl+C in an open cell editor copies the editor's selection and
    // leaves the edit as it was; on the grid itself it copies the number.
    void copyInThePersonalEditor()
    {
        f.reset();
        f = std::make_unique<AppFixture>([](test::TestDb &db) {
            folderWith({})(db);
            db.add(DirectoryKind::Personal, {"04", "Газ\tслужба\r\n", "Садовая", "1", {}, {}, {}});
        });
        f->control<QTabBar>(QStringLiteral("TabStrip1"))->setCurrentIndex(2);
        DirectoryGrid *g = grid(DirectoryKind::Personal);
        // A tab or line break inside a cell would split the row when pasted.
        g->setCurrentIndex(g->model()->index(1, 0));
        QCOMPARE(copied(DirectoryKind::Personal, true), QStringLiteral("04\tГаз служба  \tСадовая\t1\t\t\t"));

        const QModelIndex cell = g->model()->index(0, 1);
        g->setCurrentIndex(cell);
        QCOMPARE(copied(DirectoryKind::Personal), QStringLiteral("03"));
        g->edit(cell);
        auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->setSelection(7, 6);
        QTest::keyClick(editor, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("помощь"));
        QCOMPARE(QApplication::focusWidget(), editor);
        QCOMPARE(editor->text(), QStringLiteral("Скорая помощь"));
    }
};

QTEST_MAIN(TestLinkDial)
#include "tst_linkdial.moc"
