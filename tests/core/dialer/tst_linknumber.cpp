// Dialing without a modem: which ports stand for a telephone or a QR code,
// the prefix, and the number a tel: link carries.
#include "core/dialer/portnames.h"

#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace korvana;
using Problem = LinkNumber::Problem;
Q_DECLARE_METATYPE(korvana::LinkNumber::Problem)

class TestLinkNumber : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void portsAndPrefixFromTheSettings()
    {
        QTemporaryDir dir;
        QSettings s(dir.filePath(QStringLiteral("k.ini")), QSettings::IniFormat);
        s.setValue(QStringLiteral("Ports/Com1"), QStringLiteral(" TEL: "));
        s.setValue(QStringLiteral("Ports/Com2"), QStringLiteral("qr:"));
        s.setValue(QStringLiteral("Ports/Com3"), QStringLiteral("/dev/ttyACM0"));
        s.setValue(QStringLiteral("Ports/Com4"), QStringLiteral("tel:123"));
        s.setValue(QStringLiteral("Dial/Prefix"), QStringLiteral(" +38044 "));
        QCOMPARE((QList<PortRoad>{portRoad(1, s), portRoad(2, s), portRoad(3, s), portRoad(4, s), portRoad(5, s)}),
                 (QList<PortRoad>{PortRoad::Telephone, PortRoad::QrCode, PortRoad::Modem, PortRoad::Modem, PortRoad::Modem}));
        // A port's device from the settings, else the n-1th serial line.
        s.setValue(QStringLiteral("Com5"), QStringLiteral("/dev/ttyUSB0")); // outside the group
        QCOMPARE((QStringList{portDevice(3, s), portDevice(5, s)}), (QStringList{"/dev/ttyACM0", "/dev/ttyS4"}));
        QCOMPARE(dialPrefix(s), QStringLiteral("+38044"));
    }

    // A link carries "tel:", an optional "+" and digits, or nothing at all;
    // a prefix is up to 15 digits, maybe after a "+".
    void numberOfAnEntry_data()
    {
        QTest::addColumn<QString>("commy");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<Problem>("problem");
        QTest::addColumn<QString>("number");
        const QString none, entry = QStringLiteral("20911 Spravka");
        QTest::newRow("plain") << entry << none << Problem::None << QStringLiteral("20911");
        QTest::newRow("blanks around, prefix") << QStringLiteral("  93020 Тест") << QStringLiteral("+38044")
                                               << Problem::None << QStringLiteral("+3804493020");
        QTest::newRow("blanks and dashes in the first five") << QStringLiteral("2-0 9 Иван") << QStringLiteral("044")
                                                             << Problem::None << QStringLiteral("044209");
        QTest::newRow("very long") << QString(100000, u'7') << QStringLiteral("+123456789012345") << Problem::None
                                   << QStringLiteral("+12345678901234577777");
        QTest::newRow("empty") << QString() << none << Problem::NoDigits << none;
        QTest::newRow("letters only") << QStringLiteral("Spravka") << none << Problem::NoDigits << none;
        QTest::newRow("Cyrillic O for zero") << QStringLiteral("2О911") << none << Problem::NotDigits << none;
        QTest::newRow("control characters") << QStringLiteral("2\x01\r\n9") << none << Problem::NotDigits << none;
        for (const char *prefix : {"1234567890123456", "+", "38+044", "380-44", "38044\n", "٣٨"})
            QTest::addRow("prefix %s", prefix) << entry << QString::fromUtf8(prefix) << Problem::BadPrefix << none;
    }

    void numberOfAnEntry()
    {
        QFETCH(QString, commy);
        QFETCH(QString, prefix);
        QFETCH(Problem, problem);
        QFETCH(QString, number);
        const LinkNumber n = linkNumber(commy, prefix);
        QCOMPARE(n.problem, problem);
        QCOMPARE(n.number, number);
        QCOMPARE(isValidDialPrefix(prefix), problem != Problem::BadPrefix);
        if (problem == Problem::None)
            QVERIFY(QRegularExpression(QStringLiteral("^tel:\\+?[0-9]+\\z")).match(telLink(n.number)).hasMatch());
    }

    void nameOfAnEntry()
    {
        QCOMPARE((QStringList{entryName(QStringLiteral(" 20911 Spravka ")), entryName(QStringLiteral("2-0 9 Иван Петров")),
                              entryName(QStringLiteral("2091155 Аптека")), entryName(QStringLiteral("03"))}),
                 (QStringList{"Spravka", "Иван Петров", "Аптека", ""}));
    }
};

QTEST_GUILESS_MAIN(TestLinkNumber)
#include "tst_linknumber.moc"
