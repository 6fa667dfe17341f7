#include "core/store/store.h"
#include "demotown/demotown.h"
#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

using namespace korvana;
using korvana::test::readBytes;

namespace {

QList<QVariantList> rowsOf(Store &store, const QString &sql)
{
    QList<QVariantList> out;
    Statement *s = store.statement(sql);
    if (!s)
        return out;
    Statement::Use use(*s);
    while (s->step() == SQLITE_ROW) {
        QVariantList row;
        for (int i = 0; i < s->columnCount(); ++i)
            row << s->column(i);
        out << row;
    }
    return out;
}

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
        DemoTownOptions options;
        options.residents = 3000;
        options.enterprises = 300;
        options.seed = 7;
        QString error;
        QVERIFY2(writeDemoTown(dir.filePath("a.db"), options, &error), qPrintable(error));
        QVERIFY2(writeDemoTown(dir.filePath("b.db"), options, &error), qPrintable(error));
        options.seed = 8;
        QVERIFY2(writeDemoTown(dir.filePath("c.db"), options, &error), qPrintable(error));
        const QByteArray a = readBytes(dir.filePath("a.db"));
        QVERIFY(a.size() > 100000);
        QCOMPARE(readBytes(dir.filePath("b.db")), a);
        QVERIFY(readBytes(dir.filePath("c.db")) != a);

        // More residents do not reshuffle the enterprises, numbers included, while the
        // numbers keep their length: benchmarks at different sizes share a town.
        DemoTown small(11, 20000), large(11, 20000);
        for (int i = 0; i < 500; ++i)
            large.nextResident();
        for (int i = 0; i < 50; ++i)
            QCOMPARE(large.nextEnterprise(), small.nextEnterprise());
    }

    // The window dials the first five characters of an entry: a default town's
    // numbers must be exactly five digits, each reaching one entry only, given
    // out in blocks by district, with some of the 9xxxx numbers that the
    // first exchange dials differently.
    void defaultTownNumbersDialRight()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("kadu.db");
        QString error;
        QVERIFY2(writeDemoTown(path, DemoTownOptions{}, &error), qPrintable(error));
        auto store = Store::open(path);
        QVERIFY(store);
        QStringList numbers;
        QHash<QString, QSet<QString>> streetsOfThousand; // by the first two digits
        QSet<QString> streets;
        for (const QVariantList &r : rowsOf(*store, "SELECT N_tel, Street FROM NASELEN UNION ALL "
                                                    "SELECT N_tel, Street FROM PREDPR UNION ALL "
                                                    "SELECT N_tel, Street FROM Note")) {
            numbers << r[0].toString();
            streetsOfThousand[numbers.last().left(2)].insert(r[1].toString());
            streets.insert(r[1].toString());
        }
        QCOMPARE(numbers.size(), DemoTownOptions{}.residents + DemoTownOptions{}.enterprises
                                     + DemoTown::personalEntryCount());
        const QString bad = badNumbers(numbers, 5);
        QVERIFY2(bad.isEmpty(), qPrintable(bad));
        // Numbered regardless of the street, every thousand would serve every street.
        for (auto it = streetsOfThousand.cbegin(); it != streetsOfThousand.cend(); ++it)
            QVERIFY2(it->size() <= streets.size() / 4, qPrintable(it.key()));
        QVERIFY(numbers.filter(QRegularExpression("^9")).size() > 1000);
    }

    // A town of 80,000 lines fills the five-digit exchange without sharing a
    // number (districts overflow into each other); one line more, and the
    // numbers grow a digit rather than repeat.
    void numbersStayDistinctUpToAFullExchange_data()
    {
        QTest::addColumn<qint64>("lines");
        QTest::addColumn<int>("residents");
        QTest::addColumn<int>("enterprises");
        QTest::addColumn<int>("digits");
        const int personal = int(DemoTown::personalEntryCount());
        QTest::newRow("full") << qint64(80000) << 60000 << 20000 - personal << 5;
        QTest::newRow("one over") << qint64(80001) << 2000 << 2000 << 6;
    }

    void numbersStayDistinctUpToAFullExchange()
    {
        QFETCH(qint64, lines);
        QFETCH(int, residents);
        QFETCH(int, enterprises);
        QFETCH(int, digits);
        DemoTown town(3, lines);
        QStringList numbers;
        for (int i = 0; i < residents; ++i)
            numbers << town.nextResident().at(0).toString();
        for (int i = 0; i < enterprises; ++i)
            numbers << town.nextEnterprise().at(1).toString(); // after the enterprise's name
        for (const QVariantList &row : town.personalEntries())
            numbers << row.at(0).toString();
        const QString bad = badNumbers(numbers, digits);
        QVERIFY2(bad.isEmpty(), qPrintable(bad));
    }

    void foldedPrefixSearchFindsItsRows()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("kadu.db");
        DemoTownOptions options;
        options.residents = 5000;
        options.enterprises = 100;
        QVERIFY(writeDemoTown(path, options));
        auto store = Store::open(path);
        QVERIFY(store);
        const auto count = [&](const char *sql) { return rowsOf(*store, sql).value(0).value(0).toLongLong(); };
        QCOMPARE(store->tableRowCount(DirectoryKind::Residents), 5000);
        QCOMPARE(store->tableRowCount(DirectoryKind::Enterprises), 100);
        QCOMPARE(store->tableRowCount(DirectoryKind::Personal), 5);
        QCOMPARE(count("SELECT count(DISTINCT N_tel) FROM NASELEN"), 5000); // no shared lines

        // Counted here with Qt's own lower case, ё as е, over the stored names.
        int kov = 0, fedorov = 0, withYo = 0;
        for (const QVariantList &r : rowsOf(*store, "SELECT Family FROM NASELEN")) {
            const QString family = r[0].toString().toLower().replace(u'ё', u'е');
            kov += family.startsWith(u"ков");
            fedorov += family.startsWith(u"федоров");
            withYo += r[0].toString().startsWith(u"Фё");
        }
        QVERIFY(kov > 50 && withYo > 0);
        QCOMPARE(count("SELECT count(*) FROM NASELEN WHERE k_family GLOB 'ков*'"), kov);
        QCOMPARE(count("SELECT count(*) FROM NASELEN WHERE k_family GLOB 'федоров*'"), fedorov);

        // The indexes dropped for the load are all back in the file itself
        // (read without Store, whose open() would add missing ones).
        store.reset();
        sqlite3 *raw = nullptr;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt *q = nullptr;
        QCOMPARE(sqlite3_prepare_v2(raw, "SELECT count(*) FROM sqlite_master WHERE type = 'index'", -1, &q, nullptr),
                 SQLITE_OK);
        const int indexes = sqlite3_step(q) == SQLITE_ROW ? sqlite3_column_int(q, 0) : -1;
        sqlite3_finalize(q);
        sqlite3_close(raw);
        QCOMPARE(indexes, 21);
    }

    void refusesToClobberAndLeavesNoPartialFiles()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("kadu.db");
        QVERIFY(test::writeBytes(path, "precious"));
        DemoTownOptions options;
        options.residents = 0; // an empty town is a valid file too
        options.enterprises = 0;
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
