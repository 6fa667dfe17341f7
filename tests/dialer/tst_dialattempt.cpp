#include "dialer/dialattempt.h"
#include "dialer/dialdigits.h"
#include "modemsimulator.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <time.h>

using namespace korvana;
using korvana::test::ModemSimulator;
using Piece = ModemSimulator::Piece;
Q_DECLARE_METATYPE(korvana::test::ModemSimulator::Piece)

namespace {

const QString Answered = QStringLiteral("Пожалуйста, поднимите трубку и нажмите <Enter> или <OK>");
const QString Busy = QStringLiteral("Занято, нажмите <Enter> или <OK>");

// The window's controls as plain values, with a log of what was done to
// them in order.
class FakeView : public DialerView {
public:
    int port = 0;
    int exchange = 0;
    QString commy;
    QStringList items{QStringLiteral("45000 Spravka"), QStringLiteral("45001 Taxi")};
    QString status;
    bool cancelVisible = false;
    bool dialEnabled = true;
    QStringList messages;
    QStringList log;
    std::function<void(const QString &)> onMessage;

    int selectedPortIndex() const override { return port; }
    int selectedExchangeIndex() const override { return exchange; }
    QString commyText() const override { return commy; }
    int commyCount() const override { return int(items.size()); }
    QString commyItem(int index) const override { return items.at(index); }
    void addCommyItem(const QString &text) override { items << text; log << QStringLiteral("add"); }
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
    ModemSimulator modem;
    FakeView view;
    DialAttempt attempt{view};

    Rig(QSettings &settings, int portNumber = 1)
    {
        settings.setValue(QStringLiteral("Ports/Com%1").arg(portNumber), modem.slavePath());
        attempt.setSettings(&settings);
        view.port = portNumber - 1;
    }
};

double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

} // namespace

class TestDialAttempt : public QObject {
    Q_OBJECT
private slots:
    void init();
    void answeredSendsExactBytes_data();
    void answeredSendsExactBytes();
    void recognisedReplies_data();
    void recognisedReplies();
    void unrecognisedRepliesWaitForCancel_data();
    void unrecognisedRepliesWaitForCancel();
    void listAdditions_data();
    void listAdditions();
    void portThatDoesNotOpen();
    void nextAttemptUsesNewlyChosenPort();
    void secondRequestWhileWaitingIsIgnored();
    void cancelDuringMessageDoesNotCarryOver();
    void abortEndsTheAttemptAtOnce();
    void idleWaitUsesNoCpu();
    void farEndVanishingMidWait();

private:
    // After any ending: Status as before, Command3 hidden, Command2
    // usable, port closed, CancelFlag clear.
    static void verifyEndedCleanly(const Rig &rig, const QString &status)
    {
        QCOMPARE(rig.view.status, status);
        QVERIFY(!rig.view.cancelVisible);
        QVERIFY(rig.view.dialEnabled);
        QVERIFY(!rig.attempt.isPortOpen());
        QVERIFY(!rig.attempt.isRunning());
        QVERIFY(!rig.attempt.cancelFlag());
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
};

void TestDialAttempt::init()
{
    m_settings.reset();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_settings = std::make_unique<QSettings>(m_dir->filePath(QStringLiteral("ports.ini")), QSettings::IniFormat);
}

void TestDialAttempt::answeredSendsExactBytes_data()
{
    QTest::addColumn<QString>("commy");
    QTest::addColumn<int>("exchange");
    QTest::addColumn<QString>("digits");
    QTest::newRow("first exchange, 9") << QStringLiteral("91234 Petrov") << 0 << QStringLiteral(",,1234");
    QTest::newRow("first exchange, other") << QStringLiteral(" 51234 Petrov") << 0 << QStringLiteral(",,9,5,1234");
    QTest::newRow("second exchange, 9") << QStringLiteral("91234") << 1 << QStringLiteral(",,9,1234");
    QTest::newRow("empty text") << QString() << 0 << QStringLiteral(",,9,,");
}

void TestDialAttempt::answeredSendsExactBytes()
{
    QFETCH(QString, commy);
    QFETCH(int, exchange);
    QFETCH(QString, digits);

    Rig rig(*m_settings, 2);
    QVERIFY(rig.modem.isValid());
    rig.modem.setDialReply(ModemSimulator::word("OK"));
    rig.view.exchange = exchange;
    rig.view.commy = commy;
    rig.view.status = QStringLiteral("before");
    rig.view.onMessage = [&](const QString &) {
        // The user is asked to lift the handset while the line is still
        // held: no hang-up yet, port open, cancel shown, Command2 disabled.
        QCOMPARE(rig.view.status, QStringLiteral("Набираем номер - ") + digits);
        QVERIFY(rig.attempt.isPortOpen());
        QVERIFY(rig.view.cancelVisible);
        QVERIFY(!rig.view.dialEnabled);
        QVERIFY(!rig.modem.received().contains("ATH"));
    };
    QCOMPARE(rig.attempt.dial(), DialAttempt::Outcome::Answered);
    QCOMPARE(rig.view.messages, QStringList{Answered});
    QCOMPARE(rig.view.log.mid(rig.view.log.indexOf(QStringLiteral("beep"))),
             (QStringList{QStringLiteral("beep"), QStringLiteral("message"), QStringLiteral("status")}));
    verifyEndedCleanly(rig, QStringLiteral("before"));
    QVERIFY(rig.modem.waitForReceived("ATH\r", 2000));
    QCOMPARE(rig.modem.received(), "ATDP" + digits.toLatin1() + ";\rATH\r");
}

void TestDialAttempt::recognisedReplies_data()
{
    QTest::addColumn<QList<Piece>>("reply");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("message");
    const int answered = int(DialAttempt::Outcome::Answered);
    const int busy = int(DialAttempt::Outcome::Busy);
    QTest::newRow("BUSY") << ModemSimulator::word("BUSY") << busy << Busy;
    QTest::newRow("BUSY and OK in one reply") << QList<Piece>{{100, "\r\nOK\r\n\r\nBUSY\r\n"}} << busy << Busy;
    QTest::newRow("OK in two reads") << QList<Piece>{{100, "\r\nO"}, {300, "K\r\n"}} << answered << Answered;
    QTest::newRow("BUSY in two reads") << QList<Piece>{{100, "\r\nBU"}, {300, "SY\r\n"}} << busy << Busy;
    QTest::newRow("OK after other words") << QList<Piece>{{100, "\r\nERROR\r\n"}, {200, "\r\nOK\r\n"}}
                                          << answered << Answered;
}

void TestDialAttempt::recognisedReplies()
{
    QFETCH(QList<Piece>, reply);
    QFETCH(int, outcome);
    QFETCH(QString, message);

    Rig rig(*m_settings);
    QVERIFY(rig.modem.isValid());
    rig.modem.setDialReply(reply);
    rig.view.commy = QStringLiteral("52233 Sidorov");
    int playedAtMessage = -1;
    rig.view.onMessage = [&](const QString &) { playedAtMessage = rig.modem.piecesPlayed(); };

    QCOMPARE(int(rig.attempt.dial()), outcome);
    QCOMPARE(rig.view.messages, QStringList{message});
    // The message came only once the whole reply had arrived.
    QCOMPARE(playedAtMessage, int(reply.size()));
    verifyEndedCleanly(rig, QString());
    QVERIFY(rig.modem.waitForReceived("ATH\r", 2000));
}

void TestDialAttempt::unrecognisedRepliesWaitForCancel_data()
{
    QTest::addColumn<QList<Piece>>("reply");
    QTest::addColumn<bool>("echo");
    QTest::newRow("silence") << QList<Piece>{} << true;
    QTest::newRow("silence, no echo") << QList<Piece>{} << false;
    QTest::newRow("lower-case ok") << ModemSimulator::word("ok") << true;
    QTest::newRow("lower-case busy") << ModemSimulator::word("busy") << true;
    QTest::newRow("ERROR") << ModemSimulator::word("ERROR") << true;
}

void TestDialAttempt::unrecognisedRepliesWaitForCancel()
{
    QFETCH(QList<Piece>, reply);
    QFETCH(bool, echo);

    Rig rig(*m_settings);
    QVERIFY(rig.modem.isValid());
    rig.modem.setEcho(echo);
    rig.modem.setDialReply(reply);
    rig.view.commy = QStringLiteral("91234");
    rig.view.status = QStringLiteral("idle");

    bool stillWaiting = false;
    QTimer::singleShot(600, &rig.attempt, [&] {
        stillWaiting = rig.attempt.isRunning() && rig.view.cancelVisible && rig.attempt.isPortOpen()
                && rig.modem.piecesPlayed() == reply.size();
        rig.attempt.cancel(); // the click on Command3
        QVERIFY(rig.attempt.cancelFlag());
    });
    QCOMPARE(rig.attempt.dial(), DialAttempt::Outcome::Cancelled);
    QVERIFY(stillWaiting);
    QVERIFY(rig.view.messages.isEmpty());
    QVERIFY(!rig.view.log.contains(QStringLiteral("beep")));
    verifyEndedCleanly(rig, QStringLiteral("idle"));
    QVERIFY(rig.modem.waitForReceived("ATH\r", 2000));
    QVERIFY(rig.modem.received().endsWith("ATDP,,1234;\rATH\r"));
}

void TestDialAttempt::listAdditions_data()
{
    QTest::addColumn<QString>("commy");
    QTest::addColumn<bool>("added");
    QTest::newRow("exact entry") << QStringLiteral("45001 Taxi") << false;
    QTest::newRow("other case") << QStringLiteral("45001 TAXI") << true;
    QTest::newRow("leading blank") << QStringLiteral(" 45001 Taxi") << true;
    QTest::newRow("trailing blank") << QStringLiteral("45001 Taxi ") << true;
    QTest::newRow("new entry") << QStringLiteral("31234 Ivanova") << true;
}

void TestDialAttempt::listAdditions()
{
    QFETCH(QString, commy);
    QFETCH(bool, added);

    Rig rig(*m_settings);
    QVERIFY(rig.modem.isValid());
    rig.view.commy = commy;
    const QStringList before = rig.view.items;

    // A silent modem and a cancel: the entry joins the list even so, and
    // before any reply could have come.
    QStringList itemsWhileWaiting;
    QTimer::singleShot(300, &rig.attempt, [&] {
        itemsWhileWaiting = rig.view.items;
        rig.attempt.cancel();
    });
    QCOMPARE(rig.attempt.dial(), DialAttempt::Outcome::Cancelled);
    const QStringList expected = added ? before + QStringList{commy} : before;
    QCOMPARE(itemsWhileWaiting, expected);
    QCOMPARE(rig.view.items, expected);
    QVERIFY(rig.modem.received().startsWith("ATDP,,9,"));
}

void TestDialAttempt::portThatDoesNotOpen()
{
    Rig rig(*m_settings);
    QVERIFY(rig.modem.isValid());
    m_settings->setValue(QStringLiteral("Ports/Com5"), m_dir->filePath(QStringLiteral("no-such-tty")));
    rig.view.port = 4;
    rig.view.commy = QStringLiteral("51234 Somebody");
    rig.view.status = QStringLiteral("unchanged");
    const QStringList items = rig.view.items;
    bool cancelShownDuringMessage = false;
    rig.view.onMessage = [&](const QString &) { cancelShownDuringMessage = rig.view.cancelVisible; };

    QCOMPARE(rig.attempt.dial(), DialAttempt::Outcome::PortUnavailable);
    // Latin "COM:", Cyrillic "СОМ" at the end.
    QCOMPARE(rig.view.messages, QStringList{QStringLiteral("COM:5 не подключен. Выберите другой \u0421\u041e\u041c.")});
    QVERIFY(cancelShownDuringMessage);
    QCOMPARE(rig.view.items, items);
    QVERIFY(!rig.view.log.contains(QStringLiteral("status")));
    QVERIFY(!rig.view.log.contains(QStringLiteral("beep")));
    verifyEndedCleanly(rig, QStringLiteral("unchanged"));
    QTest::qWait(100);
    QVERIFY(rig.modem.received().isEmpty());
}

void TestDialAttempt::nextAttemptUsesNewlyChosenPort()
{
    Rig rig(*m_settings, 1);
    ModemSimulator second;
    QVERIFY(rig.modem.isValid() && second.isValid());
    m_settings->setValue(QStringLiteral("Ports/Com2"), second.slavePath());
    rig.modem.setDialReply(ModemSimulator::word("OK"));
    second.setDialReply(ModemSimulator::word("BUSY"));
    rig.view.commy = QStringLiteral("41234");

    QCOMPARE(rig.attempt.dial(), DialAttempt::Outcome::Answered);
    rig.view.port = 1;
    rig.view.exchange = 1;
    QCOMPARE(rig.attempt.dial(), DialAttempt::Outcome::Busy);
    QVERIFY(second.waitForReceived("ATH\r", 2000));
    QCOMPARE(rig.modem.received(), QByteArray("ATDP,,9,4,1234;\rATH\r"));
    QCOMPARE(second.received(), QByteArray("ATDP,,4,1234;\rATH\r"));
}

void TestDialAttempt::secondRequestWhileWaitingIsIgnored()
{
    Rig rig(*m_settings);
    QVERIFY(rig.modem.isValid());
    rig.view.commy = QStringLiteral("61234");

    bool disabledWhileWaiting = false;
    DialAttempt::Outcome nested = DialAttempt::Outcome::Answered;
    QTimer::singleShot(200, &rig.attempt, [&] {
        disabledWhileWaiting = !rig.view.dialEnabled;
        rig.view.commy = QStringLiteral("70000 Other"); // the position indicator moved on
        nested = rig.attempt.dial();
        rig.attempt.cancel();
    });
    QCOMPARE(rig.attempt.dial(), DialAttempt::Outcome::Cancelled);
    QVERIFY(disabledWhileWaiting);
    QCOMPARE(nested, DialAttempt::Outcome::Ignored);
    verifyEndedCleanly(rig, QString());
    QVERIFY(rig.modem.waitForReceived("ATH\r", 2000));
    QCOMPARE(rig.modem.received(), QByteArray("ATDP,,9,6,1234;\rATH\r"));
    QCOMPARE(rig.view.items.size(), 3);
}

void TestDialAttempt::cancelDuringMessageDoesNotCarryOver()
{
    // A cancel click handled in the same pass as the reply must not end the
    // next attempt before it has waited.
    Rig rig(*m_settings);
    QVERIFY(rig.modem.isValid());
    rig.modem.setDialReply(ModemSimulator::word("OK", 300));
    rig.view.commy = QStringLiteral("81234");
    rig.view.onMessage = [&](const QString &) { rig.attempt.cancel(); };

    QCOMPARE(rig.attempt.dial(), DialAttempt::Outcome::Answered);
    QVERIFY(!rig.attempt.cancelFlag());
    rig.view.onMessage = nullptr;
    QCOMPARE(rig.attempt.dial(), DialAttempt::Outcome::Answered);
    QCOMPARE(rig.view.messages, (QStringList{Answered, Answered}));
}

void TestDialAttempt::abortEndsTheAttemptAtOnce()
{
    Rig rig(*m_settings);
    QVERIFY(rig.modem.isValid());
    rig.view.commy = QStringLiteral("51234");
    rig.view.status = QStringLiteral("rest");

    bool endedInsideAbort = false;
    bool hungUp = false;
    QTimer::singleShot(300, &rig.attempt, [&] {
        rig.attempt.abort(); // the window is closing
        endedInsideAbort = !rig.attempt.isPortOpen() && !rig.view.cancelVisible
                && rig.view.status == QStringLiteral("rest");
        hungUp = rig.modem.waitForReceived("ATH\r", 2000);
    });
    QCOMPARE(rig.attempt.dial(), DialAttempt::Outcome::Aborted);
    QVERIFY(endedInsideAbort);
    QVERIFY(hungUp);
    QVERIFY(rig.view.messages.isEmpty());
    verifyEndedCleanly(rig, QStringLiteral("rest"));
}

void TestDialAttempt::idleWaitUsesNoCpu()
{
    Rig rig(*m_settings);
    QVERIFY(rig.modem.isValid());
    rig.view.commy = QStringLiteral("51234");

    double cpuStart = 0;
    double cpuUsed = -1;
    double wallMs = 0;
    QElapsedTimer wall;
    QTimer::singleShot(200, &rig.attempt, [&] {
        cpuStart = cpuMs();
        wall.start();
        QTimer::singleShot(1000, &rig.attempt, [&] {
            cpuUsed = cpuMs() - cpuStart;
            wallMs = double(wall.elapsed());
            rig.attempt.cancel();
        });
    });
    QCOMPARE(rig.attempt.dial(), DialAttempt::Outcome::Cancelled);
    qInfo("idle wait: %.2f ms CPU over %.0f ms", cpuUsed, wallMs);
    QVERIFY(cpuUsed >= 0);
    QVERIFY2(cpuUsed < 0.05 * wallMs, qPrintable(QStringLiteral("%1 ms CPU").arg(cpuUsed)));
}

void TestDialAttempt::farEndVanishingMidWait()
{
    Rig rig(*m_settings);
    QVERIFY(rig.modem.isValid());
    rig.modem.setDialReply({Piece{100, {}, true}});
    rig.view.commy = QStringLiteral("51234");
    rig.view.status = QStringLiteral("rest");

    bool vanished = false;
    bool stillWaiting = false;
    double cpuStart = 0;
    double cpuUsed = -1;
    QTimer::singleShot(400, &rig.attempt, [&] {
        vanished = rig.modem.hasVanished();
        cpuStart = cpuMs();
        QTimer::singleShot(1000, &rig.attempt, [&] {
            cpuUsed = cpuMs() - cpuStart;
            // Nothing can answer any more; the user can still cancel.
            stillWaiting = rig.attempt.isRunning() && rig.view.cancelVisible && !rig.view.dialEnabled;
            rig.attempt.cancel();
        });
    });
    QCOMPARE(rig.attempt.dial(), DialAttempt::Outcome::Cancelled);
    QVERIFY(vanished);
    QVERIFY(stillWaiting);
    qInfo("wait after the far end vanished: %.2f ms CPU over 1000 ms", cpuUsed);
    QVERIFY(cpuUsed >= 0 && cpuUsed < 50);
    QVERIFY(rig.view.messages.isEmpty());
    verifyEndedCleanly(rig, QStringLiteral("rest"));
}

QTEST_GUILESS_MAIN(TestDialAttempt)
#include "tst_dialattempt.moc"
