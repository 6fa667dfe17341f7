// Dialing from the real window against a simulated modem on a pseudo-terminal.
#include "appfixture.h"
#include "core/search/recordsource.h"
#include "gui/dialer/dialerpanel.h"
#include "modemsimulator.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSerialPort>
#include <QTest>
#include <QTimer>

using namespace korvana;
using korvana::test::AppFixture;
using korvana::test::ModemSimulator;

class TestDialWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<ModemSimulator> modem;
    std::unique_ptr<AppFixture> f;

    QAbstractButton *button(const char *name) { return f->control<QAbstractButton>(name); }

    // Makes the resident with this number the current entry.
    void choose(const QString &number)
    {
        f->field("Tent")->setText(number);
        QCOMPARE(f->app->source(DirectoryKind::Residents)->recordCount(), 1);
    }

private Q_SLOTS:
    void init()
    {
        modem = std::make_unique<ModemSimulator>();
        QVERIFY(modem->isValid());
        // Second exchange, modem on Com3.
        f = std::make_unique<AppFixture>(test::withFile(QStringLiteral("kadumy.txt"), "1\r\n3\r\n"));
        f->settings->setValue(QStringLiteral("Ports/Com3"), modem->slavePath());
    }

    void cleanup()
    {
        f.reset(); // the port is closed before the simulator's side
        modem.reset();
    }

    void answeredWhileTheWindowStaysUsable()
    {
        choose(QStringLiteral("93020"));
        QCOMPARE(f->commy(), QStringLiteral("93020 Тест_100%"));
        modem->setDialReply(ModemSimulator::word("OK", 400));
        bool cancelShownDuringWait = false;
        QTimer::singleShot(100, this, [&] {
            cancelShownDuringWait = button("Command3")->isVisible();
            // A search typed during the wait runs at once.
            f->field("Tefio")->setText(QStringLiteral("пет"));
        });
        button("Command2")->click();

        // The hang-up is written before the port closes; the simulator reads it a moment later.
        QTRY_COMPARE(modem->received(), QByteArray("ATDP,,9,3020;\rATH\r"));
        QVERIFY(cancelShownDuringWait);
        QCOMPARE(f->app->source(DirectoryKind::Residents)->queryText(),
                 QStringLiteral("Select * From NASELEN WHERE N_tel like '93020*' AND FAMILY like "
                                "'пет*' ORDER BY N_tel"));
        QCOMPARE(f->messages.last().text,
                 QStringLiteral("Пожалуйста, поднимите трубку и нажмите <Enter> или <OK>"));
        QCOMPARE(f->messages.last().icon, MessageIcon::None);
        QVERIFY(!button("Command3")->isVisible());
        QVERIFY(button("Command2")->isEnabled());
        QCOMPARE(f->control<QLabel>("Status")->text(), QString());
        QVERIFY(!f->app->dialer()->attempt().isPortOpen());
        auto *commy = f->control<QComboBox>("Commy");
        QCOMPARE(commy->itemText(commy->count() - 1), QStringLiteral("93020 Тест_100%"));
    }

    // A silent modem: the status line says so and names the way out, a
    // line at a time; «Отмена» hangs up and empties it.
    void cancelHangsUp()
    {
        choose(QStringLiteral("21734"));
        auto *status = f->control<QLabel>("Status");
        f->app->dialer()->attempt().setSilenceNotice(std::chrono::milliseconds(300));
        QStringList shown;
        QTimer::singleShot(200, this, [&] {
            shown << status->text();
            for (const QString &line : {QStringLiteral("Модем не отвечает"), QStringLiteral("«Отмена» прервёт ожидание"),
                                       QStringLiteral("Набираем номер - ,,2,1734")})
                if (QTest::qWaitFor([&] { return status->text() == line; }, 5000))
                    shown << line;
            shown << status->toolTip();
            button("Command3")->click();
        });
        button("Command2")->click();
        QTRY_COMPARE(modem->received(), QByteArray("ATDP,,2,1734;\rATH\r"));
        QVERIFY(f->messages.texts().isEmpty());
        QVERIFY(!f->app->dialer()->attempt().cancelFlag());
        QCOMPARE(shown, (QStringList{"Набираем номер - ,,2,1734", "Модем не отвечает", "«Отмена» прервёт ожидание",
                                     "Набираем номер - ,,2,1734",
                                     "Набираем номер - ,,2,1734 Модем не отвечает «Отмена» прервёт ожидание"}));
        QCOMPARE(status->text(), QString());
        QTest::qWait(1600);
        QCOMPARE(status->text(), QString()); // no line comes back after the end
    }

    void closingTheWindowEndsTheAttemptFirst()
    {
        choose(QStringLiteral("21734"));
        QTimer::singleShot(200, this, [&] { f->app->window()->close(); });
        button("Command2")->click();
        QVERIFY(modem->waitForReceived("ATH\r", 2000));
        QVERIFY(!f->app->dialer()->attempt().isPortOpen());
        QVERIFY(QFile::exists(f->db.dir.filePath(QStringLiteral("WGridCol.txt"))));
    }

    void portThatCannotBeOpened_data()
    {
        QTest::addColumn<QString>("reason"); // %1 the device
        QTest::newRow("not there") << QStringLiteral("%1: нет такого устройства.");
        QTest::newRow("held by another program") << QStringLiteral("%1: порт занят другой программой.");
        QTest::newRow("no access") << QStringLiteral("%1: нет доступа, пользователь должен быть в группе ");
    }

    // The user is told which device did not open and why (for a port
    // without access, the group to join), and nothing reaches the line.
    void portThatCannotBeOpened()
    {
        QFETCH(QString, reason);
        const QByteArray how = QTest::currentDataTag();
        QString device = modem->slavePath();
        QSerialPort other(device);
        std::unique_ptr<test::AsOrdinaryUser> ordinary;
        if (how == "not there") {
            device = QStringLiteral("/dev/korvana-no-such-port");
            f->settings->setValue(QStringLiteral("Ports/Com3"), device);
        } else if (how == "held by another program") {
            QVERIFY(other.open(QIODevice::ReadWrite));
        } else {
            QVERIFY(QFile::setPermissions(device, QFile::ReadOwner | QFile::WriteOwner));
            reason += QFileInfo(device).group() + u'.';
            ordinary = std::make_unique<test::AsOrdinaryUser>();
            if (!ordinary->switched)
                QSKIP("only root can become a user without access here");
        }
        const int items = f->control<QComboBox>("Commy")->count();
        button("Command2")->click();
        ordinary.reset();
        QCOMPARE(f->messages.count(), 1);
        QCOMPARE(f->messages.last().lines,
                 (QStringList{QStringLiteral("COM:3 не подключен. Выберите другой СОМ."), reason.arg(device)}));
        QCOMPARE(f->control<QComboBox>("Commy")->count(), items);
        QVERIFY(!button("Command3")->isVisible());
        QVERIFY(!f->app->dialer()->attempt().isRunning());
        QTest::qWait(100);
        QVERIFY(modem->received().isEmpty());
    }
};

QTEST_MAIN(TestDialWindow)
#include "tst_dialwindow.moc"
