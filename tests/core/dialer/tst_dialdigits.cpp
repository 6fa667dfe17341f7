#include "core/dialer/dialdigits.h"
#include "core/dialer/portnames.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace korvana;

class TestDialDigits : public QObject {
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
        QTest::newRow("any index but 0 is the second") << "51234" << 3 << QByteArray("ATDP,,5,1234;\r");
        QTest::newRow("cut at five") << " 9876543 " << 1 << QByteArray("ATDP,,9,8765;\r");
        QTest::newRow("blank inside the five") << "12 Ivanov" << 1 << QByteArray("ATDP,,1,2 Iv;\r");
        // Shorter numbers: the first character and the last four overlap.
        QTest::newRow("three digits") << "512" << 0 << QByteArray("ATDP,,9,5,512;\r");
        QTest::newRow("empty, first") << "" << 0 << QByteArray("ATDP,,9,,;\r");
        QTest::newRow("blank, second") << " " << 1 << QByteArray("ATDP,,,;\r");
        // A CR inside a number must not end the command before ";".
        QTest::newRow("control characters") << "5\r1\n2\t3" << 1 << QByteArray("ATDP,,5,12;\r");
        QTest::newRow("non-ASCII letter") << "12ж34" << 1 << QByteArray("ATDP,,1,234;\r");
    }
    void commandBytesNineDroppedAndFiveCharacters()
    {
        QFETCH(QString, commy);
        QFETCH(int, exchange);
        QTEST(dialCommand(dialDigits(dialNumber(commy), exchange)), "command");
        QCOMPARE(hangUpCommand(), QByteArray("ATH\r"));
    }

    // A port's device from the settings, else the n-1th serial line.
    void portDevicesFromSettingsOrDefault()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("ports.ini")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Ports/Com3"), QStringLiteral("/dev/ttyACM0"));
        settings.setValue(QStringLiteral("Ports/Com4"), QString());
        settings.setValue(QStringLiteral("Com5"), QStringLiteral("/dev/ttyUSB0")); // outside the group
        QCOMPARE((QStringList{portDevice(3, settings), portDevice(4, settings), portDevice(5, settings)}),
                 (QStringList{"/dev/ttyACM0", "/dev/ttyS3", "/dev/ttyS4"}));
    }
};

QTEST_GUILESS_MAIN(TestDialDigits)
#include "tst_dialdigits.moc"
