#include "app/sidefiles.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace korvana;

namespace {

QString writeBytes(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

const QByteArray kDefaultWidthFile =
    "900\r\n2800\r\n2400\r\n730\r\n520\r\n730\r\n520\r\n"
    "900\r\n2800\r\n2400\r\n730\r\n520\r\n730\r\n520\r\n"
    "3150\r\n680\r\n2130\r\n1630\r\n540\r\n345\r\n345\r\n45\r\n"
    "9970\r\n0\r\n";

} // namespace

class TestSideFiles : public QObject {
    Q_OBJECT

private slots:
    void widthFileOfDefaultsHasExactBytes()
    {
        QTemporaryDir dir;
        WGridCol table = WGridCol::withDefaults();
        table.setWindowWidth(9970);
        const QString path = dir.filePath(kWidthFileName);
        QVERIFY(table.writeFile(path));
        QCOMPARE(readBytes(path), kDefaultWidthFile);

        WGridCol back;   // all zero: every column cell must come from the file
        QCOMPARE(back.readFile(path), 22);
        back.setWindowWidth(9970);
        QCOMPARE(back, table);
    }

    void widthFileKeepsWholeNumberPartOnly()
    {
        QTemporaryDir dir;
        WGridCol table = WGridCol::withDefaults();
        table.setCell(1, 1, 1000.75f);
        table.setCell(2, 7, 45.5f);
        table.setCell(3, 0, -0.5f);   // floor, not truncation
        table.setWindowWidth(12345.9f);
        const QString path = dir.filePath(kWidthFileName);
        QVERIFY(table.writeFile(path));
        const QList<QByteArray> lines = readBytes(path).split('\n');
        QCOMPARE(lines.size(), 25);   // 24 lines, each ended by CR LF
        QCOMPARE(lines[1], "1000\r");
        QCOMPARE(lines[7], "-1\r");
        QCOMPARE(lines[21], "45\r");
        QCOMPARE(lines[22], "12345\r");
        QCOMPARE(lines[23], "0\r");

        const WGridCol back = loadWidthTable(path);
        QCOMPARE(back.cell(1, 1), 1000.0f);
        QCOMPARE(back.cell(2, 7), 45.0f);
        QCOMPARE(back.cell(3, 0), 900.0f);   // -1 is no width: the default stays
        QCOMPARE(back.windowWidth(), 0.0f);  // line 23 is never read
    }

    void widthFileReadsEachLineOnItsOwn_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("taken");
        QTest::addColumn<QList<float>>("first4");   // grid 1 columns 0..3
        QTest::addColumn<float>("enterpriseLast");  // grid 2 column 7

        QTest::newRow("blanks and mixed line ends")
            << QByteArray(" 901 \r\n\t2801\n  2401\r731\r\n" + QByteArray("10\r\n").repeated(17) + " 46 ")
            << 22 << QList<float>{901, 2801, 2401, 731} << 46.0f;
        QTest::newRow("short file") << QByteArray("1\r\n2\r\n3") << 3
                                    << QList<float>{1, 2, 3, 730} << 45.0f;
        QTest::newRow("bad lines skipped in place") << QByteArray("1\r\nabc\r\n0\r\n-4\r\n\r\n")
                                                    << 1 << QList<float>{1, 2800, 2400, 730} << 45.0f;
        QTest::newRow("nan and inf") << QByteArray("nan\r\ninf\r\n1e40\r\n7.5\r\n") << 1
                                     << QList<float>{900, 2800, 2400, 7.5f} << 45.0f;
        QTest::newRow("empty file") << QByteArray() << 0 << QList<float>{900, 2800, 2400, 730}
                                    << 45.0f;
    }
    void widthFileReadsEachLineOnItsOwn()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, taken);
        QFETCH(QList<float>, first4);
        QFETCH(float, enterpriseLast);
        QTemporaryDir dir;
        const QString path = writeBytes(dir, kWidthFileName, content);
        WGridCol table = WGridCol::withDefaults();
        QCOMPARE(table.readFile(path), taken);
        for (int c = 0; c < 4; ++c)
            QCOMPARE(table.cell(1, c), first4[c]);
        QCOMPARE(table.cell(2, 7), enterpriseLast);
        for (const WGridCol::CellRef &ref : WGridCol::fileOrder())
            QVERIFY(table.cell(ref.grid, ref.cell) > 0.0f);
    }

    void missingWidthFileGivesDefaults()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(kWidthFileName));   // a directory is no file
        QCOMPARE(loadWidthTable(dir.filePath(kWidthFileName)), WGridCol::withDefaults());
        QCOMPARE(loadWidthTable(dir.filePath("absent.txt")), WGridCol::withDefaults());
    }

    void failedWidthWriteLeavesOldFile()
    {
        QTemporaryDir dir;
        const QString path = writeBytes(dir, kWidthFileName, kDefaultWidthFile);
        WGridCol table = WGridCol::withDefaults();
        table.setCell(1, 0, 123456);

        // Disk full, simulated by a file-size limit below the new content.
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit tiny = old;
        tiny.rlim_cur = 16;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
        QString error;
        const bool written = table.writeFile(path, &error);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!written);
        QVERIFY(!error.isEmpty());
        QCOMPARE(readBytes(path), kDefaultWidthFile);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QString(kWidthFileName)});
    }

    void unwritableDirectoryIsAnError()
    {
        QTemporaryDir dir;
        const QString notADir = writeBytes(dir, "plain", "x");
        QString error;
        QVERIFY(!WGridCol::withDefaults().writeFile(notADir + "/" + kWidthFileName, &error));
        QVERIFY(!error.isEmpty());

        if (geteuid() == 0)
            return;   // permissions do not stop root; the case above still ran
        const QString path = writeBytes(dir, kWidthFileName, kDefaultWidthFile);
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        const bool written = WGridCol().writeFile(path);
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!written);
        QCOMPARE(readBytes(path), kDefaultWidthFile);
    }

    void myNumbers_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("exchange");
        QTest::addColumn<int>("port");   // 0: none chosen by the file
        QTest::addColumn<bool>("modem");
        QTest::addColumn<QStringList>("numbers");

        QTest::newRow("exchange 1, Com3") << QByteArray("1\r\n3\r\n") << 1 << 3 << true << QStringList{};
        QTest::newRow("no modem, nothing more") << QByteArray("1\r\n0") << 1 << 0 << false << QStringList{};
        QTest::newRow("letter first, 12") << QByteArray("x1\r\n12\r\n") << 0 << 1 << true << QStringList{};
        QTest::newRow("3 word") << QByteArray("0\r\n3 word\r\n") << 0 << 3 << true << QStringList{};
        QTest::newRow("empty port line") << QByteArray("\r\n\r\n") << 0 << 0 << false << QStringList{};
        QTest::newRow("non-digit port") << QByteArray("1\r\nCom2\r\n") << 1 << 0 << false << QStringList{};
        QTest::newRow("numbers verbatim")
            << QByteArray("1\r\n2\r\n 11111 a \r\n\r\n22222 b") << 1 << 2 << true
            << QStringList{" 11111 a ", "", "22222 b"};
        QTest::newRow("CR alone and LF alone") << QByteArray("1\r4\n5\r\r\n6\n") << 1 << 4 << true
                                               << QStringList{"5", "", "6"};
        // Mended faults: each keeps its own default and the rest is read.
        QTest::newRow("exchange out of range") << QByteArray("5\r\n2\r\n33333 c\r\n") << 0 << 2
                                               << true << QStringList{"33333 c"};
        QTest::newRow("one line only") << QByteArray("1\r\n") << 1 << 0 << true << QStringList{};
        QTest::newRow("empty file") << QByteArray() << 0 << 0 << true << QStringList{};
    }
    void myNumbers()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const MyNumbers n = readMyNumbers(writeBytes(dir, kMyNumbersFileName, content));
        QVERIFY(n.present);
        QTEST(n.exchangeIndex, "exchange");
        QTEST(n.port.value_or(0), "port");
        QTEST(n.modem, "modem");
        QTEST(n.ownNumbers, "numbers");
    }

    void myNumbersTakesLines3To101()
    {
        QByteArray content = "1\r\n2\r\n";
        for (int line = 3; line <= 150; ++line)
            content += "n" + QByteArray::number(line) + "\r\n";
        QTemporaryDir dir;
        const MyNumbers n = readMyNumbers(writeBytes(dir, kMyNumbersFileName, content));
        QCOMPARE(n.ownNumbers.size(), 99);
        QCOMPARE(n.ownNumbers.front(), "n3");
        QCOMPARE(n.ownNumbers.back(), "n101");
    }

    void myNumbersInUtf8AndWindows1251()
    {
        QVERIFY(QStringDecoder("windows-1251").isValid());
        const QStringList expected{u"12345 Иванов"_qs, u"54321 Пётр Ёлкин"_qs};
        const QByteArray cp1251 = "1\r\n2\r\n12345 \xC8\xE2\xE0\xED\xEE\xE2\r\n"
                                  "54321 \xCF\xB8\xF2\xF0 \xA8\xEB\xEA\xE8\xED\r\n";
        const QByteArray utf8 = "1\r\n2\r\n" + expected.join("\r\n").toUtf8();
        QTemporaryDir dir;
        for (const QByteArray &bytes : {cp1251, utf8, "\xEF\xBB\xBF" + utf8}) {
            const MyNumbers n = readMyNumbers(writeBytes(dir, kMyNumbersFileName, bytes));
            QCOMPARE(n.exchangeIndex, 1);   // a byte-order mark is not the first character
            QCOMPARE(n.ownNumbers, expected);
        }
    }

    void missingMyNumbersFile()
    {
        QTemporaryDir dir;
        QVERIFY(!readMyNumbers(dir.filePath(kMyNumbersFileName)).present);
        QVERIFY(QDir(dir.path()).mkdir(kMyNumbersFileName));
        const MyNumbers n = readMyNumbers(dir.filePath(kMyNumbersFileName));
        QVERIFY(!n.present);
        QVERIFY(n.modem);
        QCOMPARE(n.exchangeIndex, 0);
    }

    void numberText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<float>("value");   // -1: not a number
        QTest::newRow("blanks") << " \t12 " << 12.0f;
        QTest::newRow("fraction") << "1000.75" << 1000.75f;
        QTest::newRow("negative") << "-15" << -15.0f;
        QTest::newRow("word") << "abc" << -1.0f;
        QTest::newRow("empty") << "" << -1.0f;
        QTest::newRow("group separator") << "1,000" << -1.0f;
        QTest::newRow("nan") << "nan" << -1.0f;
    }
    void numberText()
    {
        QFETCH(QString, text);
        QFETCH(float, value);
        QCOMPARE(parseNumberText(text).value_or(-1.0f), value);
    }
};

QTEST_GUILESS_MAIN(TestSideFiles)
#include "tst_sidefiles.moc"
