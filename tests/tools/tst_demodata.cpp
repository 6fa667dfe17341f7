#include "core/store/store.h"
#include "demotown/demotown.h"
#include "testfiles.h"

#include <QtTest>

#include <sqlite3.h>

using namespace korvana;
using korvana::test::readBytes;

namespace {

// Why the numbers are not each `digits` digits long and distinct; empty if they are.
QString badNumbers(const QStringList &numbers, int digits)
{
    const QRegularExpression form(QStringLiteral("^[1-9][0-9]{%1}$").arg(digits - 1));
    QSet<QString> seen;
    for (const QString &number : numbers) {
        if (!form.match(number).hasMatch())
            return number + QStringLiteral(" is not a number of %1 digits").arg(digits);
        if (seen.contains(number))
            return number + QStringLiteral(" twice");
        seen.insert(number);
    }
    return {};
}

} // namespace

class TestDemoData : public QObject {
    Q_OBJECT

private slots:
    void sameSeedSameBytes()
    {
        QTemporaryDir dir;
        DemoTownOptions options{3000, 300, 7};
        QString error;
        for (const char *name : {"a.db", "b.db"})
            QVERIFY2(writeDemoTown(dir.filePath(name), options, &error), qPrintable(error));
        options.seed = 8;
        QVERIFY2(writeDemoTown(dir.filePath("c.db"), options, &error), qPrintable(error));
        const QByteArray a = readBytes(dir.filePath("a.db"));
        QVERIFY(a.size() > 100000);
        QCOMPARE(readBytes(dir.filePath("b.db")), a);
        QVERIFY(readBytes(dir.filePath("c.db")) != a);
    }

    // The window dials the first five characters of an entry: a default
    // town's numbers are five digits, each reaching one entry only, some of
    // them the 9xxxx numbers the first exchange dials differently. The
    // indexes dropped for the load are back in the file itself.
    void defaultTownDialsRightAndKeepsItsIndexes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("kadu.db");
        QString error;
        QVERIFY2(writeDemoTown(path, DemoTownOptions{}, &error), qPrintable(error));
        // Read without Store, whose open() would add missing indexes.
        sqlite3 *raw = nullptr;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        const std::unique_ptr<sqlite3, int (*)(sqlite3 *)> closer(raw, sqlite3_close);
        {
            QStringList numbers;
            Statement q(raw, QStringLiteral("SELECT N_tel FROM NASELEN UNION ALL SELECT N_tel FROM PREDPR "
                                            "UNION ALL SELECT N_tel FROM Note"));
            while (q.step() == SQLITE_ROW)
                numbers << q.column(0).toString();
            QCOMPARE(numbers.size(), DemoTownOptions{}.residents + DemoTownOptions{}.enterprises
                                         + DemoTown::personalEntryCount());
            const QString bad = badNumbers(numbers, 5);
            QVERIFY2(bad.isEmpty(), qPrintable(bad));
            QVERIFY(numbers.filter(QRegularExpression("^9")).size() > 1000);
            Statement indexes(raw, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'index'"));
            QCOMPARE(indexes.step(), SQLITE_ROW);
            QCOMPARE(indexes.columnInt64(0), 21);
        }
    }

    // A town of 80,000 lines fills the five-digit exchange without sharing a
    // number (districts overflow into each other); one line more, and the
    // numbers grow a digit rather than repeat.
    void numbersStayDistinctUpToAFullExchange()
    {
        const int personal = int(DemoTown::personalEntryCount());
        const struct { qint64 lines; int residents, enterprises, digits; } cases[] = {
            {80000, 60000, 20000 - personal, 5}, {80001, 2000, 2000, 6}};
        for (const auto &c : cases) {
            DemoTown town(3, c.lines);
            QStringList numbers;
            for (int i = 0; i < c.residents; ++i)
                numbers << town.nextResident().at(0).toString();
            for (int i = 0; i < c.enterprises; ++i)
                numbers << town.nextEnterprise().at(1).toString(); // after the enterprise's name
            for (const QVariantList &row : town.personalEntries())
                numbers << row.at(0).toString();
            const QString bad = badNumbers(numbers, c.digits);
            QVERIFY2(bad.isEmpty(), qPrintable(QStringLiteral("%1 lines: %2").arg(c.lines).arg(bad)));
        }
    }

    void refusesToClobberAndLeavesNoPartialFiles()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("kadu.db");
        QVERIFY(test::writeBytes(path, "precious"));
        DemoTownOptions options{0, 0}; // an empty town is a valid file too
        QString error;
        QVERIFY(!writeDemoTown(path, options, &error));
        QVERIFY(error.contains("exists"));
        QCOMPARE(readBytes(path), QByteArray("precious"));
        options.overwrite = true;
        QVERIFY2(writeDemoTown(path, options, &error), qPrintable(error));
        Store::OpenStatus status = Store::OpenStatus::Failed;
        QVERIFY(Store::open(path, &status) && status == Store::OpenStatus::Ok);
        // Readable by whoever may read any new file here, not private like a temporary file.
        QVERIFY(test::writeBytes(dir.filePath("plain"), {}));
        QCOMPARE(QFile::permissions(path), QFile::permissions(dir.filePath("plain")));

        QVERIFY(!writeDemoTown(dir.path(), options, &error)); // a directory is never replaced
        options.residents = -1;
        QVERIFY(!writeDemoTown(dir.filePath("neg.db"), options, &error));
        // Nothing but the finished file is left behind, temporary names included.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot),
                 (QStringList{"kadu.db", "plain"}));
    }
};

QTEST_GUILESS_MAIN(TestDemoData)
#include "tst_demodata.moc"
