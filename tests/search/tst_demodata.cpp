#include "search/demotown.h"
#include "search/store.h"
#include "search/textfold.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

using namespace korvana;

namespace {

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

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

qint64 countOf(Store &store, const QString &sql)
{
    const QList<QVariantList> rows = rowsOf(store, sql);
    return rows.isEmpty() ? -1 : rows.first().value(0).toLongLong();
}

bool hasCyrillic(const QString &s)
{
    return std::any_of(s.cbegin(), s.cend(), [](QChar c) {
        return c.script() == QChar::Script_Cyrillic;
    });
}

bool allDigits(const QString &s)
{
    return !s.isEmpty()
        && std::all_of(s.cbegin(), s.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

} // namespace

class TestDemoData : public QObject {
    Q_OBJECT

private slots:
    void sameSeedSameBytes();
    void tablesAreIndependentStreams();
    void contentLooksLikeADirectory();
    void prefixSearchFindsCommonSurnames();
    void refusesToClobberAndLeavesNoPartialFiles();
    void emptyTownIsAValidFile();
    void numberPoolHandsOutEachNumberOnce();
};

void TestDemoData::sameSeedSameBytes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    DemoTownOptions options;
    options.residents = 3000;
    options.enterprises = 300;
    options.seed = 7;
    QString error;
    QVERIFY2(writeDemoTown(dir.filePath(QStringLiteral("a.db")), options, &error), qPrintable(error));
    QVERIFY2(writeDemoTown(dir.filePath(QStringLiteral("b.db")), options, &error), qPrintable(error));
    options.seed = 8;
    QVERIFY2(writeDemoTown(dir.filePath(QStringLiteral("c.db")), options, &error), qPrintable(error));

    const QByteArray a = bytesOf(dir.filePath(QStringLiteral("a.db")));
    QVERIFY(a.size() > 100000);
    QCOMPARE(bytesOf(dir.filePath(QStringLiteral("b.db"))), a);
    QVERIFY(bytesOf(dir.filePath(QStringLiteral("c.db"))) != a);
}

void TestDemoData::tablesAreIndependentStreams()
{
    // More residents must not reshuffle the enterprises, and a longer run
    // continues a shorter one: benchmarks at different sizes share a town.
    DemoTown small(11), large(11);
    for (int i = 0; i < 50; ++i)
        QCOMPARE(large.nextResident(), small.nextResident());
    for (int i = 0; i < 500; ++i)
        large.nextResident();
    for (int i = 0; i < 50; ++i)
        QCOMPARE(large.nextEnterprise(), small.nextEnterprise());
    QCOMPARE(large.personalEntries(), small.personalEntries());
}

void TestDemoData::contentLooksLikeADirectory()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kadu.db"));
    DemoTownOptions options;
    options.residents = 4000;
    options.enterprises = 400;
    QString error;
    QVERIFY2(writeDemoTown(path, options, &error), qPrintable(error));
    {
        // The indexes dropped for the load are all back in the file itself
        // (read without Store, whose open() would add missing ones).
        sqlite3 *raw = nullptr;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, SQLITE_OPEN_READONLY,
                                 nullptr),
                 SQLITE_OK);
        sqlite3_stmt *q = nullptr;
        QCOMPARE(sqlite3_prepare_v2(raw, "SELECT count(*) FROM sqlite_master WHERE type = 'index'",
                                    -1, &q, nullptr),
                 SQLITE_OK);
        QCOMPARE(sqlite3_step(q), SQLITE_ROW);
        const int indexes = sqlite3_column_int(q, 0);
        sqlite3_finalize(q);
        sqlite3_close(raw);
        QCOMPARE(indexes, 21);
    }
    auto store = Store::open(path);
    QVERIFY(store);

    QCOMPARE(store->tableRowCount(DirectoryKind::Residents), 4000);
    QCOMPARE(store->tableRowCount(DirectoryKind::Enterprises), 400);
    QCOMPARE(store->tableRowCount(DirectoryKind::Personal), 5);

    // Stored bytes are valid UTF-8: a round trip through QString keeps them.
    for (const QString &table : {QStringLiteral("NASELEN"), QStringLiteral("PREDPR"), QStringLiteral("Note")}) {
        const QString sql = QStringLiteral("SELECT CAST(Street AS BLOB), CAST(%1 AS BLOB) FROM %2")
                                .arg(table == QLatin1String("PREDPR") ? QStringLiteral("Predpr")
                                                                      : QStringLiteral("Family"),
                                     table);
        for (const QVariantList &row : rowsOf(*store, sql)) {
            for (const QVariant &v : row) {
                const QByteArray raw = v.toByteArray();
                QVERIFY2(QString::fromUtf8(raw).toUtf8() == raw, raw.constData());
            }
        }
    }

    const QStringList houseParts = {QStringLiteral("а"), QStringLiteral("б"), QStringLiteral("в"),
                                    QStringLiteral("А"), QStringLiteral("/1"), QStringLiteral("/2"),
                                    QStringLiteral("/3")};
    int withDom1 = 0, withoutFlat = 0, withFlat = 0, withKvart1 = 0, fiveDigit = 0;
    int feminine = 0, masculine = 0, adjectival = 0;
    QSet<QString> numbers;
    QString letters;
    for (const QVariantList &r : rowsOf(*store, QStringLiteral(
             "SELECT N_tel, Family, Street, Dom, Dom1, Kvart, Kvart1 FROM NASELEN"))) {
        const QString number = r[0].toString(), family = r[1].toString();
        QVERIFY2(allDigits(number) && (number.size() == 5 || number.size() == 6), qPrintable(number));
        fiveDigit += number.size() == 5;
        numbers.insert(number);
        QVERIFY2(hasCyrillic(family) && family.contains(u' ') && family.endsWith(u'.'),
                 qPrintable(family));
        QVERIFY2(hasCyrillic(r[2].toString()), qPrintable(r[2].toString()));
        QVERIFY2(allDigits(r[3].toString()), qPrintable(r[3].toString()));
        if (!r[4].isNull()) {
            QVERIFY2(houseParts.contains(r[4].toString()), qPrintable(r[4].toString()));
            ++withDom1;
        }
        if (r[5].isNull())
            ++withoutFlat;
        else {
            QVERIFY2(allDigits(r[5].toString()), qPrintable(r[5].toString()));
            ++withFlat;
        }
        if (!r[6].isNull()) {
            QVERIFY(!r[5].isNull());
            ++withKvart1;
        }
        const QString surname = family.section(u' ', 0, 0);
        feminine += surname.endsWith(QStringLiteral("ова")) || surname.endsWith(QStringLiteral("ина"));
        masculine += surname.endsWith(QStringLiteral("ов")) || surname.endsWith(QStringLiteral("ин"));
        adjectival += surname.endsWith(QStringLiteral("цкая"));
        letters += family + r[2].toString();
    }
    QVERIFY(withDom1 > 20 && withDom1 < 400);
    QVERIFY(withoutFlat > 400 && withFlat > 400);
    QVERIFY(withKvart1 > 0 && withKvart1 < 100);
    QVERIFY(fiveDigit > 400 && fiveDigit < 4000);
    QVERIFY(feminine > 100 && masculine > 100 && adjectival > 0);
    QCOMPARE(numbers.size(), 4000); // far below the pools' size, so no shared lines
    for (QChar c : QStringLiteral("ёіїєґ"))
        QVERIFY2(letters.contains(c, Qt::CaseInsensitive), qPrintable(QString(c)));

    // Enterprises: the lines of one firm share name, address and all but the
    // last digit of their numbers.
    int nullRemarks = 0, numbered = 0, quoted = 0;
    for (const QVariantList &r : rowsOf(*store, QStringLiteral(
             "SELECT Predpr, N_tel, Prim, Street, Dom FROM PREDPR ORDER BY rowid"))) {
        const QString name = r[0].toString(), number = r[1].toString();
        QVERIFY2(hasCyrillic(name), qPrintable(name));
        QVERIFY2(allDigits(number) && (number.size() == 5 || number.size() == 6), qPrintable(number));
        QVERIFY(hasCyrillic(r[3].toString()) && allDigits(r[4].toString()));
        if (r[2].isNull())
            ++nullRemarks;
        else
            QVERIFY2(hasCyrillic(r[2].toString()), qPrintable(r[2].toString()));
        numbered += name.contains(u'№');
        quoted += name.count(u'"') == 2;
    }
    QVERIFY(nullRemarks > 10);
    QVERIFY(numbered > 20 && quoted > 20);
    QCOMPARE(countOf(*store, QStringLiteral(
                 "SELECT count(*) FROM (SELECT Predpr, Street, Dom, substr(N_tel, 1, length(N_tel) - 1) stem "
                 "FROM PREDPR GROUP BY stem HAVING count(DISTINCT Predpr || Street || Dom) > 1)")),
             0);
    QVERIFY(countOf(*store, QStringLiteral("SELECT count(*) - count(DISTINCT N_tel) FROM PREDPR")) == 0);

    for (const QVariantList &r : rowsOf(*store, QStringLiteral("SELECT N_tel, Family FROM Note")))
        QVERIFY(allDigits(r[0].toString()) && hasCyrillic(r[1].toString()));
}

void TestDemoData::prefixSearchFindsCommonSurnames()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kadu.db"));
    DemoTownOptions options;
    options.residents = 5000;
    options.enterprises = 100;
    QVERIFY(writeDemoTown(path, options));
    auto store = Store::open(path);
    QVERIFY(store);

    // The folded column answers exactly as folding each stored name would.
    int expected = 0;
    QHash<QString, int> perSurname;
    for (const QVariantList &r : rowsOf(*store, QStringLiteral("SELECT Family FROM NASELEN"))) {
        const QString family = r[0].toString();
        expected += foldText(family).startsWith(QStringLiteral("ков"));
        ++perSurname[family.section(u' ', 0, 0)];
    }
    QVERIFY(expected > 50);
    QCOMPARE(countOf(*store, QStringLiteral("SELECT count(*) FROM NASELEN WHERE k_family GLOB 'ков*'")),
             expected);
    // Ё is found by е: both spellings of one surname fold together.
    QCOMPARE(countOf(*store, QStringLiteral(
                 "SELECT count(*) FROM NASELEN WHERE k_family GLOB 'федоров*'")),
             perSurname.value(QStringLiteral("Федоров")) + perSurname.value(QStringLiteral("Фёдоров"))
                 + perSurname.value(QStringLiteral("Федорова"))
                 + perSurname.value(QStringLiteral("Фёдорова")));
    QVERIFY(perSurname.value(QStringLiteral("Фёдоров")) + perSurname.value(QStringLiteral("Фёдорова")) > 0);

    // Zipf-like: a few surnames are common, most are rare, and there are thousands.
    QList<int> counts = perSurname.values();
    std::sort(counts.begin(), counts.end(), std::greater<>());
    QVERIFY2(counts.first() > 25 && counts.first() < 250, qPrintable(QString::number(counts.first())));
    QVERIFY(perSurname.size() > 1500);
    QVERIFY(std::count(counts.cbegin(), counts.cend(), 1) > 500);
    QVERIFY(DemoTown(1).surnameCount() > 5000);
}

void TestDemoData::refusesToClobberAndLeavesNoPartialFiles()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kadu.db"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("precious");
    }
    DemoTownOptions options;
    options.residents = 200;
    options.enterprises = 20;
    QString error;
    QVERIFY(!writeDemoTown(path, options, &error));
    QVERIFY(error.contains(QStringLiteral("exists")));
    QCOMPARE(bytesOf(path), QByteArray("precious"));

    options.overwrite = true;
    QVERIFY2(writeDemoTown(path, options, &error), qPrintable(error));
    QVERIFY(bytesOf(path).startsWith("SQLite format 3"));
    // Readable by whoever may read any new file here, not private like a temporary file.
    const QString plain = dir.filePath(QStringLiteral("plain"));
    QVERIFY(QFile(plain).open(QIODevice::WriteOnly));
    QCOMPARE(QFile::permissions(path), QFile::permissions(plain));
    QVERIFY(QFile::remove(plain));

    QVERIFY(!writeDemoTown(dir.path(), options, &error)); // a directory is never replaced
    options.residents = -1;
    QVERIFY(!writeDemoTown(dir.filePath(QStringLiteral("neg.db")), options, &error));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("neg.db"))));
    options.residents = 10;
    QVERIFY(!writeDemoTown(dir.filePath(QStringLiteral("no/such/dir.db")), options, &error));

    // Nothing but the finished file is left behind, temporary names included.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("kadu.db")});
}

void TestDemoData::emptyTownIsAValidFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("empty.db"));
    DemoTownOptions options;
    options.residents = 0;
    options.enterprises = 0;
    QVERIFY(writeDemoTown(path, options));
    Store::OpenStatus status = Store::OpenStatus::Failed;
    auto store = Store::open(path, &status);
    QVERIFY(store);
    QCOMPARE(status, Store::OpenStatus::Ok);
    QCOMPARE(store->tableRowCount(DirectoryKind::Residents), 0);
    QCOMPARE(store->tableRowCount(DirectoryKind::Enterprises), 0);
    QCOMPARE(store->tableRowCount(DirectoryKind::Personal), 5);
}

void TestDemoData::numberPoolHandsOutEachNumberOnce()
{
    for (quint64 size : {1ULL, 37ULL, 64ULL, 1000ULL}) {
        NumberPool pool(500, size, 12345);
        QSet<quint64> seen;
        for (quint64 i = 0; i < size; ++i) {
            QVERIFY(!pool.exhausted());
            const quint64 n = pool.take();
            QVERIFY(n >= 500 && n < 500 + size);
            seen.insert(n);
        }
        QCOMPARE(quint64(seen.size()), size);
        QVERIFY(pool.exhausted());
        QVERIFY(seen.contains(pool.take())); // then it starts over
    }
    // Scrambled, not counting up.
    NumberPool pool(0, 1000, 99);
    QList<quint64> first;
    for (int i = 0; i < 10; ++i)
        first << pool.take();
    QVERIFY(!std::is_sorted(first.cbegin(), first.cend()));
}

QTEST_GUILESS_MAIN(TestDemoData)
#include "tst_demodata.moc"
