#include "core/app/placement.h"
#include "core/app/sidefiles.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>


using namespace korvana;

namespace {

const QByteArray kDefaultWidthFile =
    "900\r\n2800\r\n2400\r\n730\r\n520\r\n730\r\n520\r\n"
    "900\r\n2800\r\n2400\r\n730\r\n520\r\n730\r\n520\r\n"
    "3150\r\n680\r\n2130\r\n1630\r\n540\r\n345\r\n345\r\n45\r\n9970\r\n0\r\n";

} // namespace

namespace korvana {
char *toString(const Placement &p)
{
    return QTest::toString(QStringLiteral("(%1, %2, %3, %4)").arg(p.left).arg(p.top).arg(p.width).arg(p.height));
}
} // namespace korvana

// The files beside the directory: column widths, own numbers, window placement.
class TestSideFiles : public QObject {
    Q_OBJECT

private slots:
    void widthFileHasExactBytesFlooredInGridOrder()
    {
        QTemporaryDir dir;
        WGridCol table = WGridCol::withDefaults();
        table.setWindowWidth(9970);
        const QString path = dir.filePath(kWidthFileName);
        QVERIFY(writeWidthFile(table, path));
        QCOMPARE(test::readBytes(path), kDefaultWidthFile);
        WGridCol back; // all zero: every column cell must come from the file
        QCOMPARE(readWidthFile(back, path), 22);
        QCOMPARE(back.windowWidth(), 0.0f); // line 23 is never read
        back.setWindowWidth(9970);
        QCOMPARE(back, table);

        // The whole-number part (floor, not truncation) of each cell, taken
        // over the defaults when the program starts.
        table.setCell(1, 1, 1000.75f);
        table.setCell(3, 0, -0.5f);
        table.setWindowWidth(12345.9f);
        QVERIFY(writeWidthFile(table, path));
        const QList<QByteArray> lines = test::readBytes(path).split('\n');
        QCOMPARE(lines[1], "1000\r");
        QCOMPARE(lines[7], "-1\r");
        QCOMPARE(lines[22], "12345\r");
        QCOMPARE(loadWidthTable(path).cell(1, 1), 1000.0f);

        // Each line read on its own: blanks and any line end around a number;
        // a line no positive finite number keeps its cell's default, in place.
        WGridCol mixed = WGridCol::withDefaults();
        QCOMPARE(readWidthContent(mixed, " 901 \r\n\t2801\n1,000\r7.5\r\n-4\r\nnan\r\n1e40\r\n0"), 3);
        QCOMPARE((QList<float>{mixed.cell(1, 0), mixed.cell(1, 1), mixed.cell(1, 2), mixed.cell(1, 3), mixed.cell(1, 4),
                               mixed.cell(1, 5), mixed.cell(1, 6), mixed.cell(3, 0)}),
                 (QList<float>{901, 2801, 2400, 7.5f, 520, 730, 520, 900}));
        QCOMPARE(loadWidthTable(dir.filePath("absent.txt")), WGridCol::withDefaults());

        // On a full disk the old file stays whole and no other file is left.
        QVERIFY(test::writeBytes(path, kDefaultWidthFile));
        table.setCell(1, 0, 123456);
        QString error;
        QVERIFY(!test::onFullDisk(16, [&] { return writeWidthFile(table, path, &error); }));
        QVERIFY(!error.isEmpty());
        QCOMPARE(test::readBytes(path), kDefaultWidthFile);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QString(kWidthFileName)});
    }

    void myNumbersLinesEachKeepTheirDefault_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("exchange");
        QTest::addColumn<int>("port"); // 0: none chosen by the file
        QTest::addColumn<bool>("modem");
        QTest::addColumn<QStringList>("numbers");
        QTest::newRow("no modem, nothing more") << QByteArray("1\r\n0") << 1 << 0 << false << QStringList{};
        QTest::newRow("letter first, 12") << QByteArray("x1\r\n12\r\n") << 0 << 1 << true << QStringList{};
        QTest::newRow("non-digit port") << QByteArray("1\r\nCom2\r\n") << 1 << 0 << false << QStringList{};
        QTest::newRow("numbers verbatim") << QByteArray("1\r\n2\r\n 11111 a \r\n\r\n22222 b") << 1 << 2 << true
                                          << QStringList{" 11111 a ", "", "22222 b"};
        QTest::newRow("CR alone and LF alone") << QByteArray("1\r4\n5\r\r\n6\n") << 1 << 4 << true
                                               << QStringList{"5", "", "6"};
        // Mended faults: each keeps its own default and the rest is read.
        QTest::newRow("exchange out of range") << QByteArray("5\r\n2\r\n33333 c\r\n") << 0 << 2 << true
                                               << QStringList{"33333 c"};
        QTest::newRow("empty file") << QByteArray() << 0 << 0 << true << QStringList{};
    }
    void myNumbersLinesEachKeepTheirDefault()
    {
        QFETCH(QByteArray, content);
        const MyNumbers n = parseMyNumbers(content);
        QTEST(n.exchangeIndex, "exchange");
        QTEST(n.port.value_or(0), "port");
        QTEST(n.modem, "modem");
        QTEST(n.ownNumbers, "numbers");
    }

    void myNumbersTakesLines3To101InUtf8OrWindows1251()
    {
        QByteArray content = "1\r\n2\r\n";
        for (int line = 3; line <= 150; ++line)
            content += "n" + QByteArray::number(line) + "\r\n";
        const MyNumbers many = parseMyNumbers(content);
        QCOMPARE(many.ownNumbers.size(), 99);
        QCOMPARE(many.ownNumbers.back(), "n101");

        const QStringList expected{u"12345 Иванов"_qs, u"54321 Пётр Ёлкин"_qs};
        const QByteArray cp1251 = "1\r\n2\r\n12345 \xC8\xE2\xE0\xED\xEE\xE2\r\n"
                                  "54321 \xCF\xB8\xF2\xF0 \xA8\xEB\xEA\xE8\xED\r\n";
        const QByteArray utf8 = "1\r\n2\r\n" + expected.join("\r\n").toUtf8();
        QTemporaryDir dir;
        const QString path = dir.filePath(kMyNumbersFileName);
        for (const QByteArray &bytes : {cp1251, utf8, "\xEF\xBB\xBF" + utf8}) {
            QVERIFY(test::writeBytes(path, bytes));
            const MyNumbers n = readMyNumbers(path);
            QVERIFY(n.present);
            QCOMPARE(n.exchangeIndex, 1); // a byte-order mark is not the first character
            QCOMPARE(n.ownNumbers, expected);
        }

        // Missing: the defaults.
        QVERIFY(QFile::remove(path));
        const MyNumbers none = readMyNumbers(path);
        QVERIFY(!none.present && none.modem && none.exchangeIndex == 0 && none.ownNumbers.isEmpty());
    }

    // A line counts by its first bytes, cut at a whole character (a UTF-8
    // file stays UTF-8); nothing after the first bytes of a file is read.
    void longLinesCutAndTheFileBounded()
    {
        const QString letters(kMaxSideLineBytes, u'Ж'); // two bytes each
        const MyNumbers cut = parseMyNumbers("1\r\n2\r\na" + letters.toUtf8() + "\r\n12345 Ёж\r\n");
        QCOMPARE(cut.ownNumbers, (QStringList{u'a' + letters.left(kMaxSideLineBytes / 2 - 1), u"12345 Ёж"_qs}));
        QCOMPARE(cut.exchangeIndex, 1);

        const QByteArray huge(kMaxSideFileBytes, 'x');
        const MyNumbers bounded = parseMyNumbers("1\r\n2\r\n" + huge + "\r\n12345 after\r\n");
        QCOMPARE(bounded.ownNumbers, QStringList{QString(kMaxSideLineBytes, u'x')});
        WGridCol widths = WGridCol::withDefaults();
        QCOMPARE(readWidthContent(widths, QByteArray(kMaxSideFileBytes - 1, ' ') + "\r\n901\r\n"), 0);
        QCOMPARE(readWidthContent(widths, QByteArray(kMaxSideLineBytes - 3, ' ') + "901\r\n"), 1);
    }

    void storedAsPlainNumbersAndReadBack()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("korvana.ini");
        // Absent keys give the defaults, not what the window had.
        QCOMPARE(readPlacement(QSettings(file, QSettings::IniFormat), Placement{1, 2, 3, 4}),
                 (Placement{1000, 1000, 9970, 6990}));
        const Placement stored{-15, 30.5f, 12000, 7000.25f};
        {
            QSettings settings(file, QSettings::IniFormat);
            writePlacement(settings, stored);
        }
        QSettings settings(file, QSettings::IniFormat);
        QCOMPARE((QStringList{settings.value("Settings/MainLeft").toString(), settings.value("Settings/MainTop").toString(),
                              settings.value("Settings/MainWidth").toString()}),
                 (QStringList{"-15", "30.5", "12000"}));
        QCOMPARE(readPlacement(settings, Placement{}), stored);
        // A text that is no number keeps the window's value; blanks around a number do not.
        settings.setValue("Settings/MainLeft", "abc");
        settings.setValue("Settings/MainWidth", " 11000 ");
        settings.setValue("Settings/MainHeight", "");
        QCOMPARE(readPlacement(settings, Placement{5, 6, 7, 8}), (Placement{5, 30.5f, 11000, 8}));
        // Never "-0" nor an exponent, nor decimals not asked for.
        QCOMPARE((QStringList{numberText(-0.0f), numberText(1e8f), numberText(0.1f)}), (QStringList{"0", "100000000", "0.1"}));
    }

    // A placement this program cannot have left gives the design placement
    // on the primary screen: off every screen, larger than any, below the
    // minimum client area. Without any screen only the size counts.
    void placementThatCannotBeShownGoesHome_data()
    {
        QTest::addColumn<Placement>("stored");
        QTest::addColumn<QList<QRect>>("screens");
        QTest::addColumn<Placement>("expected");
        // Two screens at 96 dpi (15 twips a pixel): 0..1919 and 1920..3199 wide.
        const QList<QRect> two{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        const auto kept = [&](const char *name, Placement p) { QTest::newRow(name) << p << two << p; };
        const auto home = [&](const char *name, Placement p) { QTest::newRow(name) << p << two << Placement{}; };
        kept("on the second screen", {30000, 1000, 9970, 6990});
        kept("straddling the left edge", {-9000, 500, 9970, 6990});
        kept("smallest window", {0, 0, kMinimumClientWidth, kMinimumClientHeight});
        home("right of both", {60000, 1000, 12000, 8000});
        home("33 px wide", {1000, 1000, 33 * 15, 6990});
        home("height 0", {1000, 1000, 9970, 0});
        home("1e7 square", {1000, 1000, 1e7f, 1e7f});
        home("far away", {3e38f, 1000, 9970, 6990});
        const Placement lost{-90000, 0, 9970, 6990};
        QTest::newRow("primary on the right") << lost << QList<QRect>{QRect(1920, 0, 1920, 1080), QRect(0, 0, 1920, 1080)}
                                              << Placement{1920 * 15 + 1000, 1000, 9970, 6990};
        QTest::newRow("no screen") << lost << QList<QRect>{} << lost;
        QTest::newRow("no screen, too low") << Placement{0, 0, 9970, 10} << QList<QRect>{} << Placement{};
    }
    void placementThatCannotBeShownGoesHome()
    {
        QFETCH(Placement, stored);
        QFETCH(QList<QRect>, screens);
        QTEST(rescuePlacement(stored, screens, 96), "expected");
    }
};

QTEST_GUILESS_MAIN(TestSideFiles)
#include "tst_sidefiles.moc"
