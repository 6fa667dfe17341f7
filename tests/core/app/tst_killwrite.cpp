// The program killed (SIGKILL) at random moments while it writes the width
// file and the personal directory, or while it takes new editions of the
// Access file into kadu.db: afterwards each file is a complete old or new
// version, the database is sound, and nothing announced as written is missing.
#include "accessfixtures.h"
#include "core/import/mdbimport.h"
#include "killgeneration.h"
#include "testdb.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

using namespace korvana;

namespace {

// Starts the helper, lets it work for up to maxDelay microseconds once it is
// ready, kills it and reads what it announced as done: step letter, generation.
void killAfter(const QStringList &args, int maxDelay, QRandomGenerator &random, QHash<QByteArray, int> *acked)
{
    QProcess victim;
    victim.start(QStringLiteral(KORVANA_KILLVICTIM_EXE), args);
    QVERIFY(victim.waitForStarted());
    QByteArray out;
    while (!out.contains("ready") && victim.waitForReadyRead(10000))
        out += victim.readAllStandardOutput();
    QVERIFY2(out.contains("ready"), victim.readAllStandardError().constData());
    QThread::usleep(random.bounded(maxDelay));
    victim.kill(); // SIGKILL: nothing of the program runs after it
    QVERIFY(victim.waitForFinished(10000));
    QCOMPARE(victim.exitStatus(), QProcess::CrashExit);
    for (const QByteArray &line : (out + victim.readAllStandardOutput()).split('\n')) {
        const QList<QByteArray> w = line.split(' ');
        if (w.size() == 2)
            (*acked)[w[0]] = w[1].toInt();
    }
}

} // namespace

class TestKillWrite : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void killedWhileWriting()
    {
        test::TestDb db;
        db.store.reset();
        const QString widthsPath = db.dir.filePath(QStringLiteral("WGridCol.txt"));
        QRandomGenerator random(20240611);

        int generation = 0, widthsSeen = -1; // generation of the width file on disk
        QStringList notesSeen;               // N_tel of the stored new entries, in order
        for (int round = 0; round < 100; ++round) {
            QHash<QByteArray, int> acked;
            // From right away to a few rounds of writing in.
            killAfter({db.dir.path(), QString::number(generation)}, 60000, random, &acked);
            if (QTest::currentTestFailed())
                return;
            const int widthsAcked = acked.value("w", -1), inserted = acked.value("n", -1), edited = acked.value("e", -1);

            // The width file: absent only before the first write, else exactly one generation.
            const QByteArray widths = test::readBytes(widthsPath);
            if (widthsAcked >= 0 || widthsSeen >= 0) {
                const int g = widths.left(widths.indexOf('\r')).toInt() - 1000;
                QVERIFY2(widths == widthFileContent(test::widthsOfGeneration(g)), widths.left(200).constData());
                QVERIFY(g >= std::max(widthsSeen, widthsAcked));
                QVERIFY(g <= std::max(widthsSeen, widthsAcked + 1) || g == generation);
                widthsSeen = g;
            }

            // The database: sound, every announced entry there, each entry whole. Opened
            // for writing first, as the program opens it, to roll back what the kill cut.
            QVERIFY(Store::open(db.path()));
            QCOMPARE(test::strings(db.path(), QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
            // Every entry whole: its name in the two fields written with its number,
            // and the first one edited in both fields or in neither.
            QCOMPARE(test::strings(db.path(), QStringLiteral(
                         "SELECT count(*) FROM Note WHERE Kvart1 IS NOT 'Запись ' || N_tel OR (Family IS NOT Kvart1 "
                         "AND (rowid > (SELECT min(rowid) FROM Note) OR Family IS NOT Street))")), QStringList{"0"});
            const QStringList numbers = test::strings(db.path(), QStringLiteral("SELECT N_tel FROM Note ORDER BY rowid"));
            QCOMPARE(numbers.mid(0, notesSeen.size()), notesSeen);
            if (inserted >= 0)
                QVERIFY(numbers.contains(QString::number(inserted)));
            if (edited >= 0) {
                const QString first = test::strings(db.path(), QStringLiteral("SELECT Family FROM Note ORDER BY rowid LIMIT 1")).value(0);
                const int e = first.section(u' ', 1).toInt();
                QVERIFY(e == edited || e == edited + 1);
            }
            notesSeen = numbers;
            generation = std::max({generation, widthsAcked, inserted, edited}) + 2;
        }
        QVERIFY(notesSeen.size() > 0);
        QVERIFY(widthsSeen >= 0);
    }

    // Each kill leaves kadu.db one whole edition: the public tables of the file
    // its record names, and the personal directory with nothing lost or doubled.
    void killedWhileUpdating()
    {
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("kadu.db"));
        const QString names[2] = {test::kJet4, test::kJet3};
        const auto digest = [](const QString &name) {
            return QCryptographicHash::hash(test::readBytes(test::accessFixture(name)), QCryptographicHash::Sha256).toHex();
        };
        QVERIFY(importAccessFile(test::accessFixture(names[1]), db).ok);
        QVERIFY(Store::open(db)->insertRow(DirectoryKind::Personal, {QStringLiteral("20100"), QStringLiteral("Мама")}));
        // Kills spread from before the first update to a few in, whatever the build's speed.
        QElapsedTimer timing;
        timing.start();
        QVERIFY(updateFromAccessFile(test::accessFixture(names[1]), db).ok);
        const int maxDelay = int(std::max<qint64>(timing.elapsed(), 20) * 4000);
        const QStringList personal = test::personalRows(db);
        // The one personal row of the Jet4 file that the Jet3 file lacks.
        const QString added = QStringLiteral("%1 '24406''Петров П.П. (сосед)''Садовая''12'NULL'5'NULL").arg(personal.size() + 1);

        QRandomGenerator random(20250301);
        int generation = 0;
        bool gotAdded = false;
        for (int round = 0; round < 40; ++round) {
            QHash<QByteArray, int> acked;
            killAfter({QStringLiteral("update"), dir.path(), QString::number(generation),
                       test::accessFixture(names[0]), test::accessFixture(names[1])},
                      maxDelay, random, &acked);
            if (QTest::currentTestFailed())
                return;

            QCOMPARE(test::strings(db, QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
            const QStringList recorded = test::strings(db, QStringLiteral("SELECT digest FROM korvana_edition WHERE role = 'imported'"));
            const int edition = recorded == QStringList{digest(names[0])} ? 0 : recorded == QStringList{digest(names[1])} ? 1 : -1;
            QVERIFY2(edition >= 0, qPrintable(recorded.join(u',')));
            for (DirectoryKind kind : {DirectoryKind::Residents, DirectoryKind::Enterprises})
                QCOMPARE(test::tableCsv(db, kind), test::expectedCsv(names[edition], kind));
            const QStringList rows = test::personalRows(db);
            gotAdded = gotAdded || edition == 0 || rows.size() > personal.size();
            QCOMPARE(rows, gotAdded ? personal + QStringList{added} : personal);
            if (acked.contains("u"))
                generation = acked.value("u") + 1;
        }
        QVERIFY(generation > 0);
        // What killed updates left beside kadu.db goes with the next one.
        QVERIFY(updateFromAccessFile(test::accessFixture(names[0]), db).ok);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("kadu.db")});
    }
};

QTEST_GUILESS_MAIN(TestKillWrite)
#include "tst_killwrite.moc"
