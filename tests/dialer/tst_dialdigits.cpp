#include "dialer/dialdigits.h"
#include "dialer/portnames.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace korvana;

class TestDialDigits : public QObject {
    Q_OBJECT
private slots:
    void dialNumberTrimsAndCuts_data();
    void dialNumberTrimsAndCuts();
    void commandBytes_data();
    void commandBytes();
    void controlCharactersNeverReachTheLine();
    void portDevices();
};

void TestDialDigits::dialNumberTrimsAndCuts_data()
{
    QTest::addColumn<QString>("commy");
    QTest::addColumn<QString>("number");
    QTest::newRow("number and name") << QStringLiteral("  45123 Иванов И.И.  ") << QStringLiteral("45123");
    QTest::newRow("longer than five") << QStringLiteral(" 9876543 ") << QStringLiteral("98765");
    QTest::newRow("short") << QStringLiteral("123") << QStringLiteral("123");
    QTest::newRow("blank inside the five") << QStringLiteral("12 Ivanov") << QStringLiteral("12 Iv");
    QTest::newRow("single blank") << QStringLiteral(" ") << QString();
    QTest::newRow("empty") << QString() << QString();
}

void TestDialDigits::dialNumberTrimsAndCuts()
{
    QFETCH(QString, commy);
    QFETCH(QString, number);
    QCOMPARE(dialNumber(commy), number);
}

void TestDialDigits::commandBytes_data()
{
    QTest::addColumn<QString>("commy");
    QTest::addColumn<int>("exchange");
    QTest::addColumn<QString>("digits");
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("first exchange, 9") << QStringLiteral("91234 Petrov") << 0
                                       << QStringLiteral(",,1234") << QByteArray("ATDP,,1234;\r");
    QTest::newRow("first exchange, other") << QStringLiteral("51234 Petrov") << 0
                                           << QStringLiteral(",,9,5,1234") << QByteArray("ATDP,,9,5,1234;\r");
    QTest::newRow("second exchange, 9") << QStringLiteral("91234") << 1
                                        << QStringLiteral(",,9,1234") << QByteArray("ATDP,,9,1234;\r");
    QTest::newRow("second exchange, other") << QStringLiteral("51234") << 1
                                            << QStringLiteral(",,5,1234") << QByteArray("ATDP,,5,1234;\r");
    QTest::newRow("any index but 0 is the second") << QStringLiteral("51234") << 3
                                                   << QStringLiteral(",,5,1234") << QByteArray("ATDP,,5,1234;\r");
    // Shorter numbers: the first character and the last four overlap.
    QTest::newRow("three digits, first") << QStringLiteral("512") << 0
                                         << QStringLiteral(",,9,5,512") << QByteArray("ATDP,,9,5,512;\r");
    QTest::newRow("three digits, 9") << QStringLiteral("912") << 0
                                     << QStringLiteral(",,912") << QByteArray("ATDP,,912;\r");
    QTest::newRow("three digits, second") << QStringLiteral("512") << 1
                                          << QStringLiteral(",,5,512") << QByteArray("ATDP,,5,512;\r");
    QTest::newRow("empty, first") << QString() << 0 << QStringLiteral(",,9,,") << QByteArray("ATDP,,9,,;\r");
    QTest::newRow("empty, second") << QStringLiteral(" ") << 1 << QStringLiteral(",,,") << QByteArray("ATDP,,,;\r");
}

void TestDialDigits::commandBytes()
{
    QFETCH(QString, commy);
    QFETCH(int, exchange);
    QFETCH(QString, digits);
    QFETCH(QByteArray, command);
    QCOMPARE(dialDigits(dialNumber(commy), exchange), digits);
    QCOMPARE(dialCommand(digits), command);
    QCOMPARE(hangUpCommand(), QByteArray("ATH\r"));
}

void TestDialDigits::controlCharactersNeverReachTheLine()
{
    // A CR inside a directory number must not end the command before ";".
    const QString digits = dialDigits(dialNumber(QStringLiteral("5\r1\n2\t3")), 1);
    QCOMPARE(dialCommand(digits), QByteArray("ATDP,,5,12;\r"));
    QCOMPARE(dialCommand(QStringLiteral(",,9,1,2ж3")), QByteArray("ATDP,,9,1,23;\r"));
}

void TestDialDigits::portDevices()
{
    QCOMPARE(defaultPortDevice(1), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(defaultPortDevice(16), QStringLiteral("/dev/ttyS15"));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QSettings settings(dir.filePath(QStringLiteral("ports.ini")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Ports/Com3"), QStringLiteral("/dev/ttyACM0"));
    settings.setValue(QStringLiteral("Ports/Com4"), QString());
    settings.setValue(QStringLiteral("Com5"), QStringLiteral("/dev/ttyUSB0")); // outside the group
    QCOMPARE(portDevice(3, settings), QStringLiteral("/dev/ttyACM0"));
    QCOMPARE(portDevice(4, settings), QStringLiteral("/dev/ttyS3"));
    QCOMPARE(portDevice(5, settings), QStringLiteral("/dev/ttyS4"));
}

QTEST_GUILESS_MAIN(TestDialDigits)
#include "tst_dialdigits.moc"
