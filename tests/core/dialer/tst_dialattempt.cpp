// From the chosen entry to the bytes on the line, and one attempt against a
// simulated modem.
#include "core/dialer/dialattempt.h"
#include "core/dialer/dialdigits.h"
#include "core/dialer/portnames.h"
#include "modemsimulator.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <ctime>

#include <functional>

using namespace korvana;
using korvana::test::ModemSimulator;
using Piece = ModemSimulator::Piece;
using Outcome = DialAttempt::Outcome;
Q_DECLARE_METATYPE(korvana::test::ModemSimulator::Piece)

namespace {

const QString Answered = QStringLiteral("Пожалуйста, поднимите трубку и нажмите <Enter> или <OK>");
const QString Busy = QStringLiteral("Занято, нажмите <Enter> или <OK>");

// The window's controls as plain values, with a log of what was done to them in order.
class FakeView : public DialerView {
public:
    int port = 0, exchange = 0;
    QString commy, status;
    QStringList items{QStringLiteral("45000 Spravka"), QStringLiteral("45001 Taxi")};
    bool cancelVisible = false, dialEnabled = true;
    QStringList messages, log;
    std::function<void(const QString &)> onMessage;

    int selectedPortIndex() const override { return port; }
    int selectedExchangeIndex() const override { return exchange; }
    QString commyText() const override { return commy; }
    int commyCount() const override { return int(items.size()); }
    QString commyItem(int index) const override { return items.at(index); }
    void addCommyItem(const QString &text) override { items << text; }
    QString statusText() const override { return status; }
    void setStatusText(const QString &text) override { status = text; log << QStringLiteral("status"); }
    void setCancelVisible(bool visible) override { cancelVisible = visible; }
    void setDialEnabled(bool enabled) override { dialEnabled = enabled; }
    void beep() override { log << QStringLiteral("beep"); }
    void showDialerMessage(const QString &text) override
    {
        messages << text;
        log << QStringLiteral("message");
        if (onMessage)
            onMessage(text);
    }
};

// A simulated modem behind "Com" n, the window's controls and an attempt.
// Declared in this order so the port closes before the modem side.
struct Rig {
    QTemporaryDir dir;
    QSettings settings{dir.filePath(QStringLiteral("ports.ini")), QSettings::IniFormat};
    ModemSimulator modem;
    FakeView view;
    DialAttempt attempt{view};

    explicit Rig(const QString &commyText, int portNumber = 1)
    {
        settings.setValue(QStringLiteral("Ports/Com%1").arg(portNumber), modem.slavePath());
        attempt.setSettings(&settings);
        view.port = portNumber - 1;
        view.commy = commyText;
        view.status = QStringLiteral("rest");
    }
    // After any ending: Status as before, Command3 hidden, Command2 usable, port closed, CancelFlag clear.
    bool endedCleanly() const
    {
        return view.status == QStringLiteral("rest") && !view.cancelVisible && view.dialEnabled
            && !attempt.isPortOpen() && !attempt.isRunning() && !attempt.cancelFlag();
    }
    bool hungUp() { return modem.waitForReceived("ATH\r", 2000); }
};

} // namespace

class TestDialAttempt : public QObject {
    Q_OBJECT
private slots:
    // From the text of Commy to the bytes that reach the modem.
    void commandBytesNineDroppedAndFiveCharacters_data()
    {
        QTest::addColumn<QString>("commy");
        QTest::addColumn<int>("exchange");
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("first exchange, 9") << "91234 Petrov" << 0 << QByteArray("ATDP,,1234;\r");
        QTest::newRow("first exchange, other, trimmed") << "  51234 Иванов И.И.  " << 0 << QByteArray("ATDP,,9,5,1234;\r");
        QTest::newRow("second exchange, 9") << "91234" << 1 << QByteArray("ATDP,,9,1234;\r");
        QTest::newRow("cut at five") << " 9876543 " << 1 << QByteArray("ATDP,,9,8765;\r");
        // Shorter numbers: the first character and the last four overlap.
        QTest::newRow("three digits") << "512" << 0 << QByteArray("ATDP,,9,5,512;\r");
        // A CR inside a number must not end the command before ";".
        QTest::newRow("control characters") << "5\r1\n2\t3" << 1 << QByteArray("ATDP,,5,12;\r");
    }
    void commandBytesNineDroppedAndFiveCharacters()
    {
        QFETCH(QString, commy);
        QFETCH(int, exchange);
        QTEST(dialCommand(dialDigits(dialNumber(commy), exchange)), "command");
    }

    // The user is asked to lift the handset while the line is still held; a
    // cancel click in that same pass does not end the next attempt, which
    // goes to the port and exchange chosen since.
    void answeredThenBusyOnNewlyChosenPort()
    {
        Rig rig(QStringLiteral(" 51234 Petrov"), 2);
        ModemSimulator second;
        rig.settings.setValue(QStringLiteral("Ports/Com3"), second.slavePath());
        rig.modem.setDialReply(ModemSimulator::word("OK", 300));
        second.setDialReply(ModemSimulator::word("BUSY", 300));
        rig.view.onMessage = [&](const QString &) {
            QCOMPARE(rig.view.status, rig.view.messages.size() == 1 ? QStringLiteral("Набираем номер - ,,9,5,1234")
                                                                     : QStringLiteral("Набираем номер - ,,5,1234"));
            QVERIFY(rig.attempt.isPortOpen() && rig.view.cancelVisible && !rig.view.dialEnabled);
            QVERIFY(!(rig.view.messages.size() == 1 ? rig.modem : second).received().contains("ATH"));
            rig.attempt.cancel();
        };
        QCOMPARE(rig.attempt.dial(), Outcome::Answered);
        QCOMPARE(rig.view.log, (QStringList{"status", "beep", "message", "status"}));
        QVERIFY(rig.endedCleanly() && rig.hungUp());
        QCOMPARE(rig.modem.received(), QByteArray("ATDP,,9,5,1234;\rATH\r"));
        rig.view.port = 2;
        rig.view.exchange = 1;
        QCOMPARE(rig.attempt.dial(), Outcome::Busy);
        QCOMPARE(rig.view.messages, (QStringList{Answered, Busy}));
        QVERIFY(rig.endedCleanly() && second.waitForReceived("ATDP,,5,1234;\rATH\r", 2000));
        QCOMPARE(second.received(), QByteArray("ATDP,,5,1234;\rATH\r"));
        QCOMPARE(rig.modem.received(), QByteArray("ATDP,,9,5,1234;\rATH\r"));
    }

    void busyWinsOverOkAndTheWholeReplyIsAwaited_data()
    {
        QTest::addColumn<QList<Piece>>("reply");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("message");
        const int answered = int(Outcome::Answered), busy = int(Outcome::Busy);
        QTest::newRow("BUSY") << ModemSimulator::word("BUSY") << busy << Busy;
        QTest::newRow("BUSY and OK in one reply") << QList<Piece>{{100, "\r\nOK\r\n\r\nBUSY\r\n"}} << busy << Busy;
        QTest::newRow("OK in two reads") << QList<Piece>{{100, "\r\nO"}, {300, "K\r\n"}} << answered << Answered;
        QTest::newRow("OK after other words") << QList<Piece>{{100, "\r\nERROR\r\n"}, {200, "\r\nOK\r\n"}} << answered
                                              << Answered;
    }
    void busyWinsOverOkAndTheWholeReplyIsAwaited()
    {
        QFETCH(QList<Piece>, reply);
        Rig rig(QStringLiteral("52233 Sidorov"));
        rig.modem.setDialReply(reply);
        int playedAtMessage = -1;
        rig.view.onMessage = [&](const QString &) { playedAtMessage = rig.modem.piecesPlayed(); };
        QTEST(int(rig.attempt.dial()), "outcome");
        QTEST(rig.view.messages.join(u'|'), "message");
        QCOMPARE(playedAtMessage, int(reply.size())); // only once the whole reply had arrived
        QVERIFY(rig.endedCleanly() && rig.hungUp());
    }

    // No reply it knows: the attempt waits for a cancel, Command2 disabled
    // and a second request ignored. The entry joins the list even so, before any reply
    // could have come, unless it is there exactly.
    void unrecognisedRepliesWaitForCancel_data()
    {
        QTest::addColumn<QList<Piece>>("reply");
        QTest::addColumn<QString>("commy");
        QTest::addColumn<bool>("added");
        QTest::newRow("silence, exact entry") << QList<Piece>{} << "45001 Taxi" << false;
        QTest::newRow("silence, other case") << QList<Piece>{} << "45001 TAXI" << true;
        QTest::newRow("lower-case ok, leading blank") << ModemSimulator::word("ok") << " 45001 Taxi" << true;
    }
    void unrecognisedRepliesWaitForCancel()
    {
        QFETCH(QList<Piece>, reply);
        QFETCH(QString, commy);
        QFETCH(bool, added);
        Rig rig(commy);
        rig.modem.setDialReply(reply);
        const QStringList expected = added ? rig.view.items + QStringList{commy} : rig.view.items;
        bool stillWaiting = false;
        QStringList itemsWhileWaiting;
        Outcome nested = Outcome::Answered;
        // The wait must not spin: the whole process's CPU over 400 ms of it.
        std::clock_t cpuStart = 0, cpuEnd = 0;
        QTimer::singleShot(100, &rig.attempt, [&] { cpuStart = std::clock(); });
        QTimer::singleShot(500, &rig.attempt, [&] {
            cpuEnd = std::clock();
            stillWaiting = rig.attempt.isRunning() && rig.view.cancelVisible && !rig.view.dialEnabled
                    && rig.attempt.isPortOpen() && rig.modem.waitForPiecesPlayed(int(reply.size()), 2000);
            itemsWhileWaiting = rig.view.items;
            rig.view.commy = QStringLiteral("70000 Other"); // the position indicator moved on
            nested = rig.attempt.dial();
            rig.attempt.cancel();
        });
        QCOMPARE(rig.attempt.dial(), Outcome::Cancelled);
        const double cpuMs = double(cpuEnd - cpuStart) * 1000.0 / CLOCKS_PER_SEC;
        QVERIFY2(cpuMs < 40, qPrintable(QStringLiteral("%1 ms CPU over 400 ms of waiting").arg(cpuMs)));
        QVERIFY(stillWaiting);
        QCOMPARE(nested, Outcome::Ignored);
        QCOMPARE(itemsWhileWaiting, expected);
        QCOMPARE(rig.view.items, expected);
        QVERIFY(rig.view.messages.isEmpty() && !rig.view.log.contains(QStringLiteral("beep")));
        QVERIFY(rig.endedCleanly() && rig.hungUp());
        QCOMPARE(rig.modem.received(), QByteArray("ATDP,,9,4,5001;\rATH\r"));
    }

    // A modem that talks without end is read a piece at a time: the wait
    // holds no more than a split word, yet hears an answer split across
    // the last two reads after megabytes of noise.
    void endlessOutputHoldsOnlyASplitWord()
    {
        Rig rig(QStringLiteral("52233 Sidorov"));
        constexpr qint64 noise = 8 << 20;
        qsizetype mostHeld = 0;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, &rig.attempt,
                [&] { mostHeld = std::max(mostHeld, rig.attempt.replyBytesHeld()); });
        sampler.start(1);
        QTimer::singleShot(50, &rig.attempt, [&] { rig.modem.flood(noise, "\r\nO", "K\r\n"); });
        QTimer::singleShot(30000, &rig.attempt, &DialAttempt::cancel); // an answer never heard
        QCOMPARE(rig.attempt.dial(), Outcome::Answered);
        QCOMPARE(rig.modem.flooded(), noise);
        QVERIFY2(mostHeld <= 3, qPrintable(QString::number(mostHeld)));
        QVERIFY(rig.endedCleanly() && rig.hungUp());
    }

    // The wait has no time-out, but an unplugged modem is told at once on
    // the status line. «Отмена» still ends it.
    void unpluggedModemIsTold()
    {
        Rig rig(QStringLiteral("52233 Sidorov"));
        auto *gone = new ModemSimulator;
        rig.settings.setValue(QStringLiteral("Ports/Com1"), gone->slavePath());
        rig.attempt.setSilenceNotice(std::chrono::milliseconds(60000));
        QString after;
        QTimer::singleShot(150, &rig.attempt, [&] {
            delete std::exchange(gone, nullptr);
            if (QTest::qWaitFor([&] { return rig.view.status.contains(u'\n'); }, 5000))
                after = rig.view.status;
            rig.attempt.cancel();
        });
        QCOMPARE(rig.attempt.dial(), Outcome::Cancelled);
        delete gone;
        QCOMPARE(after, QStringLiteral("Набираем номер - ,,9,5,2233\nМодем отключен\n«Отмена» прервёт ожидание"));
        QVERIFY(rig.endedCleanly() && rig.view.messages.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDialAttempt)
#include "tst_dialattempt.moc"
