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
        QCOMPARE(portRoad(1, s), PortRoad::Telephone);
        QCOMPARE(portRoad(2, s), PortRoad::QrCode);
        QCOMPARE(portRoad(3, s), PortRoad::Modem);
        QCOMPARE(portRoad(4, s), PortRoad::Modem);
        QCOMPARE(portRoad(5, s), PortRoad::Modem);
        // The modem's mapping reads as before.
        QCOMPARE(portDevice(3, s), QStringLiteral("/dev/ttyACM0"));
        QCOMPARE(dialPrefix(s), QStringLiteral("+38044"));
    }

    void prefixForm_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<bool>("valid");
        QTest::newRow("none") << QString() << true;
        QTest::newRow("international") << QStringLiteral("+38044") << true;
        QTest::newRow("fifteen digits") << QStringLiteral("+123456789012345") << true;
        QTest::newRow("sixteen digits") << QStringLiteral("1234567890123456") << false;
        QTest::newRow("plus alone") << QStringLiteral("+") << false;
        QTest::newRow("plus inside") << QStringLiteral("38+044") << false;
        QTest::newRow("blank inside") << QStringLiteral("38 044") << false;
        QTest::newRow("dash") << QStringLiteral("380-44") << false;
        QTest::newRow("line break after") << QStringLiteral("38044\n") << false;
        QTest::newRow("other script's digits") << QStringLiteral("٣٨") << false;
    }

    void prefixForm()
    {
        QFETCH(QString, prefix);
        QFETCH(bool, valid);
        QCOMPARE(isValidDialPrefix(prefix), valid);
        QCOMPARE(linkNumber(QStringLiteral("20911"), prefix).problem == Problem::BadPrefix, !valid);
    }

    void numberOfAnEntry_data()
    {
        QTest::addColumn<QString>("commy");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<Problem>("problem");
        QTest::addColumn<QString>("number");
        const QString none;
        QTest::newRow("plain") << QStringLiteral("20911 Spravka") << none << Problem::None << QStringLiteral("20911");
        QTest::newRow("blanks around, prefix") << QStringLiteral("  93020 Тест") << QStringLiteral("+38044")
                                               << Problem::None << QStringLiteral("+3804493020");
        QTest::newRow("blanks and dashes in the first five") << QStringLiteral("2-0 9 Иван") << QStringLiteral("044")
                                                             << Problem::None << QStringLiteral("044209");
        QTest::newRow("longer number: first five") << QStringLiteral("2091155 x") << none << Problem::None
                                                   << QStringLiteral("20911");
        QTest::newRow("very long") << QString(100000, u'7') << QStringLiteral("+1") << Problem::None
                                   << QStringLiteral("+177777");
        QTest::newRow("empty") << QString() << none << Problem::NoDigits << none;
        QTest::newRow("blanks and dashes only") << QStringLiteral(" - - ") << none << Problem::NoDigits << none;
        QTest::newRow("letters only") << QStringLiteral("Spravka") << none << Problem::NoDigits << none;
        QTest::newRow("Cyrillic O for zero") << QStringLiteral("2О911") << none << Problem::NotDigits << none;
        QTest::newRow("control characters") << QStringLiteral("2\x01\r\n9") << none << Problem::NotDigits << none;
        QTest::newRow("link syntax") << QStringLiteral("1;a=b") << none << Problem::NotDigits << none;
        QTest::newRow("bad prefix wins") << QStringLiteral("20911") << QStringLiteral("+38 044")
                                         << Problem::BadPrefix << none;
    }

    // A link carries "tel:", an optional "+" and digits, or nothing at all.
    void numberOfAnEntry()
    {
        QFETCH(QString, commy);
        QFETCH(QString, prefix);
        QFETCH(Problem, problem);
        QFETCH(QString, number);
        const LinkNumber n = linkNumber(commy, prefix);
        QCOMPARE(n.problem, problem);
        QCOMPARE(n.number, number);
        if (problem == Problem::None)
            QVERIFY(QRegularExpression(QStringLiteral("^tel:\\+?[0-9]+\\z")).match(telLink(n.number)).hasMatch());
    }

    void nameOfAnEntry()
    {
        QCOMPARE(entryName(QStringLiteral(" 20911 Spravka ")), QStringLiteral("Spravka"));
        QCOMPARE(entryName(QStringLiteral("2-0 9 Иван Петров")), QStringLiteral("Иван Петров"));
        QCOMPARE(entryName(QStringLiteral("2091155 Аптека")), QStringLiteral("Аптека"));
        QCOMPARE(entryName(QStringLiteral("03")), QString());
    }
};

QTEST_GUILESS_MAIN(TestLinkNumber)
#include "tst_linknumber.moc"
