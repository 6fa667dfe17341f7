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
    // Points "Com" n at a simulator for the attempt.
    void mapPort(int portNumber, const QString &device)
    {
        m_settings->setValue(QStringLiteral("Ports/Com%1").arg(portNumber), device);
    }
    static void verifyEndedCleanly(const FakeView &view, const DialAttempt &attempt, const QString &status)
    {
        QCOMPARE(view.status, status);
        QVERIFY(!view.cancelVisible);
        QVERIFY(view.dialEnabled);
        QVERIFY(!attempt.isPortOpen());
        QVERIFY(!attempt.isRunning());
        QVERIFY(!attempt.cancelFlag());
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
    QTest::newRow("second exchange, short") << QStringLiteral("512") << 1 << QStringLiteral(",,5,512");
    QTest::newRow("empty text") << QString() << 0 << QStringLiteral(",,9,,");
}

void TestDialAttempt::answeredSendsExactBytes()
{
    QFETCH(QString, commy);
    QFETCH(int, exchange);
    QFETCH(QString, digits);

    ModemSimulator modem;
    QVERIFY(modem.isValid());
    modem.setDialReply(ModemSimulator::word("OK"));
    mapPort(2, modem.slavePath());
    FakeView view;
    view.port = 1;
    view.exchange = exchange;
    view.commy = commy;
    view.status = QStringLiteral("before");
    DialAttempt attempt(view);
    attempt.setSettings(m_settings.get());

    const QByteArray command = "ATDP" + digits.toLatin1() + ";\r";
    view.onMessage = [&](const QString &) {
        // The user is asked to lift the handset while the line is still
        // held: no hang-up yet, port open, cancel shown, Command2 disabled.
        QCOMPARE(view.status, QStringLiteral("Набираем номер - ") + digits);
        QVERIFY(attempt.isPortOpen());
        QVERIFY(view.cancelVisible);
        QVERIFY(!view.dialEnabled);
        QVERIFY(!modem.received().contains("ATH"));
    };
    QCOMPARE(attempt.dial(), DialAttempt::Outcome::Answered);
    QCOMPARE(view.messages, QStringList{Answered});
    QCOMPARE(view.log.mid(view.log.indexOf(QStringLiteral("beep"))),
             (QStringList{QStringLiteral("beep"), QStringLiteral("message"), QStringLiteral("status")}));
    verifyEndedCleanly(view, attempt, QStringLiteral("before"));
    QVERIFY(modem.waitForReceived("ATH\r", 2000));
    QCOMPARE(modem.received(), command + "ATH\r");
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

    ModemSimulator modem;
    QVERIFY(modem.isValid());
    modem.setDialReply(reply);
    mapPort(1, modem.slavePath());
    FakeView view;
    view.commy = QStringLiteral("52233 Sidorov");
    DialAttempt attempt(view);
    attempt.setSettings(m_settings.get());
    int playedAtMessage = -1;
    view.onMessage = [&](const QString &) { playedAtMessage = modem.piecesPlayed(); };

    QCOMPARE(int(attempt.dial()), outcome);
    QCOMPARE(view.messages, QStringList{message});
    // The message came only once the whole reply had arrived.
    QCOMPARE(playedAtMessage, int(reply.size()));
    verifyEndedCleanly(view, attempt, QString());
    QVERIFY(modem.waitForReceived("ATH\r", 2000));
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
    QTest::newRow("NO CARRIER") << ModemSimulator::word("NO CARRIER") << true;
}

void TestDialAttempt::unrecognisedRepliesWaitForCancel()
{
    QFETCH(QList<Piece>, reply);
    QFETCH(bool, echo);

    ModemSimulator modem;
    QVERIFY(modem.isValid());
    modem.setEcho(echo);
    modem.setDialReply(reply);
    mapPort(1, modem.slavePath());
    FakeView view;
    view.commy = QStringLiteral("91234");
    view.status = QStringLiteral("idle");
    DialAttempt attempt(view);
    attempt.setSettings(m_settings.get());

    bool stillWaiting = false;
    QTimer::singleShot(600, &attempt, [&] {
        stillWaiting = attempt.isRunning() && view.cancelVisible && attempt.isPortOpen()
                && modem.piecesPlayed() == reply.size();
        attempt.cancel(); // the click on Command3
        QVERIFY(attempt.cancelFlag());
    });
    QCOMPARE(attempt.dial(), DialAttempt::Outcome::Cancelled);
    QVERIFY(stillWaiting);
    QVERIFY(view.messages.isEmpty());
    QVERIFY(!view.log.contains(QStringLiteral("beep")));
    verifyEndedCleanly(view, attempt, QStringLiteral("idle"));
    QVERIFY(modem.waitForReceived("ATH\r", 2000));
    QVERIFY(modem.received().endsWith("ATDP,,1234;\rATH\r"));
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

    ModemSimulator modem;
    QVERIFY(modem.isValid());
    mapPort(1, modem.slavePath());
    FakeView view;
    view.commy = commy;
    const QStringList before = view.items;
    DialAttempt attempt(view);
    attempt.setSettings(m_settings.get());

    // A silent modem and a cancel: the entry joins the list even so, and
    // before any reply could have come.
    QStringList itemsWhileWaiting;
    QTimer::singleShot(300, &attempt, [&] {
        itemsWhileWaiting = view.items;
        attempt.cancel();
    });
    QCOMPARE(attempt.dial(), DialAttempt::Outcome::Cancelled);
    const QStringList expected = added ? before + QStringList{commy} : before;
    QCOMPARE(itemsWhileWaiting, expected);
    QCOMPARE(view.items, expected);
    QVERIFY(modem.received().startsWith("ATDP,,9,"));
}

void TestDialAttempt::portThatDoesNotOpen()
{
    ModemSimulator modem;
    QVERIFY(modem.isValid());
    mapPort(1, modem.slavePath());
    mapPort(5, m_dir->filePath(QStringLiteral("no-such-tty")));
    FakeView view;
    view.port = 4;
    view.commy = QStringLiteral("51234 Somebody");
    view.status = QStringLiteral("unchanged");
    const QStringList items = view.items;
    DialAttempt attempt(view);
    attempt.setSettings(m_settings.get());
    bool cancelShownDuringMessage = false;
    view.onMessage = [&](const QString &) { cancelShownDuringMessage = view.cancelVisible; };

    QCOMPARE(attempt.dial(), DialAttempt::Outcome::PortUnavailable);
    // Latin "COM:", Cyrillic "СОМ" at the end.
    QCOMPARE(view.messages, QStringList{QStringLiteral("COM:5 не подключен. Выберите другой \u0421\u041e\u041c.")});
    QVERIFY(cancelShownDuringMessage);
    QCOMPARE(view.items, items);
    QVERIFY(!view.log.contains(QStringLiteral("status")));
    QVERIFY(!view.log.contains(QStringLiteral("beep")));
    verifyEndedCleanly(view, attempt, QStringLiteral("unchanged"));
    QTest::qWait(100);
    QVERIFY(modem.received().isEmpty());
}

void TestDialAttempt::nextAttemptUsesNewlyChosenPort()
{
    ModemSimulator first;
    ModemSimulator second;
    QVERIFY(first.isValid() && second.isValid());
    first.setDialReply(ModemSimulator::word("OK"));
    second.setDialReply(ModemSimulator::word("BUSY"));
    mapPort(1, first.slavePath());
    mapPort(2, second.slavePath());
    FakeView view;
    view.commy = QStringLiteral("41234");
    DialAttempt attempt(view);
    attempt.setSettings(m_settings.get());

    QCOMPARE(attempt.dial(), DialAttempt::Outcome::Answered);
    view.port = 1;
    view.exchange = 1;
    QCOMPARE(attempt.dial(), DialAttempt::Outcome::Busy);
    QVERIFY(second.waitForReceived("ATH\r", 2000));
    QCOMPARE(first.received(), QByteArray("ATDP,,9,4,1234;\rATH\r"));
    QCOMPARE(second.received(), QByteArray("ATDP,,4,1234;\rATH\r"));
}

void TestDialAttempt::secondRequestWhileWaitingIsIgnored()
{
    ModemSimulator modem;
    QVERIFY(modem.isValid());
    mapPort(1, modem.slavePath());
    FakeView view;
    view.commy = QStringLiteral("61234");
    DialAttempt attempt(view);
    attempt.setSettings(m_settings.get());

    bool disabledWhileWaiting = false;
    DialAttempt::Outcome nested = DialAttempt::Outcome::Answered;
    QTimer::singleShot(200, &attempt, [&] {
        disabledWhileWaiting = !view.dialEnabled;
        view.commy = QStringLiteral("70000 Other"); // the position indicator moved on
        nested = attempt.dial();
        attempt.cancel();
    });
    QCOMPARE(attempt.dial(), DialAttempt::Outcome::Cancelled);
    QVERIFY(disabledWhileWaiting);
    QCOMPARE(nested, DialAttempt::Outcome::Ignored);
    verifyEndedCleanly(view, attempt, QString());
    QVERIFY(modem.waitForReceived("ATH\r", 2000));
    QCOMPARE(modem.received(), QByteArray("ATDP,,9,6,1234;\rATH\r"));
    QCOMPARE(view.items.size(), 3);
}

void TestDialAttempt::cancelDuringMessageDoesNotCarryOver()
{
    // A cancel click handled in the same pass as the reply must not end the
    // next attempt before it has waited.
    ModemSimulator modem;
    QVERIFY(modem.isValid());
    modem.setDialReply(ModemSimulator::word("OK", 300));
    mapPort(1, modem.slavePath());
    FakeView view;
    view.commy = QStringLiteral("81234");
    DialAttempt attempt(view);
    attempt.setSettings(m_settings.get());
    view.onMessage = [&](const QString &) { attempt.cancel(); };

    QCOMPARE(attempt.dial(), DialAttempt::Outcome::Answered);
    QVERIFY(!attempt.cancelFlag());
    view.onMessage = nullptr;
    QCOMPARE(attempt.dial(), DialAttempt::Outcome::Answered);
    QCOMPARE(view.messages, (QStringList{Answered, Answered}));
}

void TestDialAttempt::abortEndsTheAttemptAtOnce()
{
    ModemSimulator modem;
    QVERIFY(modem.isValid());
    mapPort(1, modem.slavePath());
    FakeView view;
    view.commy = QStringLiteral("51234");
    view.status = QStringLiteral("rest");
    DialAttempt attempt(view);
    attempt.setSettings(m_settings.get());

    bool endedInsideAbort = false;
    bool hungUp = false;
    QTimer::singleShot(300, &attempt, [&] {
        attempt.abort(); // the window is closing
        endedInsideAbort = !attempt.isPortOpen() && !view.cancelVisible && view.status == QStringLiteral("rest");
        hungUp = modem.waitForReceived("ATH\r", 2000);
    });
    QCOMPARE(attempt.dial(), DialAttempt::Outcome::Aborted);
    QVERIFY(endedInsideAbort);
    QVERIFY(hungUp);
    QVERIFY(view.messages.isEmpty());
    verifyEndedCleanly(view, attempt, QStringLiteral("rest"));
}

void TestDialAttempt::idleWaitUsesNoCpu()
{
    ModemSimulator modem;
    QVERIFY(modem.isValid());
    mapPort(1, modem.slavePath());
    FakeView view;
    view.commy = QStringLiteral("51234");
    DialAttempt attempt(view);
    attempt.setSettings(m_settings.get());

    double cpuStart = 0;
    double cpuUsed = -1;
    double wallMs = 0;
    QElapsedTimer wall;
    QTimer::singleShot(200, &attempt, [&] {
        cpuStart = cpuMs();
        wall.start();
        QTimer::singleShot(1000, &attempt, [&] {
            cpuUsed = cpuMs() - cpuStart;
            wallMs = double(wall.elapsed());
            attempt.cancel();
        });
    });
    QCOMPARE(attempt.dial(), DialAttempt::Outcome::Cancelled);
    qInfo("idle wait: %.2f ms CPU over %.0f ms", cpuUsed, wallMs);
    QVERIFY(cpuUsed >= 0);
    QVERIFY2(cpuUsed < 0.05 * wallMs, qPrintable(QStringLiteral("%1 ms CPU").arg(cpuUsed)));
}

void TestDialAttempt::farEndVanishingMidWait()
{
    ModemSimulator modem;
    QVERIFY(modem.isValid());
    modem.setDialReply({Piece{100, {}, true}});
    mapPort(1, modem.slavePath());
    FakeView view;
    view.commy = QStringLiteral("51234");
    view.status = QStringLiteral("rest");
    DialAttempt attempt(view);
    attempt.setSettings(m_settings.get());

    bool vanished = false;
    bool stillWaiting = false;
    double cpuStart = 0;
    double cpuUsed = -1;
    QTimer::singleShot(400, &attempt, [&] {
        vanished = modem.hasVanished();
        cpuStart = cpuMs();
        QTimer::singleShot(1000, &attempt, [&] {
            cpuUsed = cpuMs() - cpuStart;
            // Nothing can answer any more; the user can still cancel.
            stillWaiting = attempt.isRunning() && view.cancelVisible && !view.dialEnabled;
            attempt.cancel();
        });
    });
    QCOMPARE(attempt.dial(), DialAttempt::Outcome::Cancelled);
    QVERIFY(vanished);
    QVERIFY(stillWaiting);
    qInfo("wait after the far end vanished: %.2f ms CPU over 1000 ms", cpuUsed);
    QVERIFY(cpuUsed >= 0 && cpuUsed < 50);
    QVERIFY(view.messages.isEmpty());
    verifyEndedCleanly(view, attempt, QStringLiteral("rest"));
}

QTEST_GUILESS_MAIN(TestDialAttempt)
#include "tst_dialattempt.moc"
