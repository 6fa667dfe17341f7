#include "core/store/store.h"
#include "demotown/demotown.h"
#include "accessfixtures.h"
#include "testdb.h"
#include "testfiles.h"

#include <QtTest>

using namespace korvana;
using korvana::test::readBytes;

class TestDemoData : public QObject {
    Q_OBJECT

private slots:
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
        const QStringList counts = test::strings(path, QStringLiteral(
            "SELECT count(*) || ' ' || count(DISTINCT n) || ' ' || sum(n GLOB '[1-9][0-9][0-9][0-9][0-9]') || ' ' || "
            "sum(n GLOB '9*') FROM (SELECT N_tel AS n FROM NASELEN UNION ALL SELECT N_tel FROM PREDPR "
            "UNION ALL SELECT N_tel FROM Note)")).value(0).split(u' ');
        const QString lines = QString::number(DemoTownOptions{}.residents + DemoTownOptions{}.enterprises + DemoTown::personalEntryCount());
        QCOMPARE(counts.mid(0, 3), (QStringList{lines, lines, lines})); // distinct, five digits each
        QVERIFY(counts.value(3).toInt() > 1000);
        // The indexes of a directory file the program makes.
        test::TestDb made;
        QVERIFY(made.store->createIndexes());
        const QString indexes = QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' ORDER BY name");
        QCOMPARE(test::strings(path, indexes), test::strings(made.path(), indexes));
    }

    // One seed, one file, byte for byte; a file in the way is replaced only
    // when asked, a folder never, and nothing but finished files is left.
    void sameSeedSameBytesAndNothingClobbered()
    {
        QTemporaryDir dir;
        QString error;
        QList<QByteArray> files;
        for (const quint64 seed : {7, 7, 8}) {
            const QString path = dir.filePath(QString::number(files.size()));
            QVERIFY2(writeDemoTown(path, DemoTownOptions{3000, 300, seed}, &error), qPrintable(error));
            files << readBytes(path);
        }
        QVERIFY(files[0].size() > 100000 && files[1] == files[0] && files[2] != files[0]);

        const QString path = dir.filePath("kadu.db");
        QVERIFY(test::writeBytes(path, "precious"));
        DemoTownOptions options{0, 0}; // an empty town is a valid file too
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
        QVERIFY(!writeDemoTown(dir.path(), options, &error));
        options.residents = -1;
        QVERIFY(!writeDemoTown(dir.filePath("neg.db"), options, &error));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot),
                 (QStringList{"0", "1", "2", "kadu.db", "plain"}));
    }
};

QTEST_GUILESS_MAIN(TestDemoData)
#include "tst_demodata.moc"
