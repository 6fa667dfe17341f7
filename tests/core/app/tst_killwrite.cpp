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
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <sqlite3.h>

#include <csignal>

using namespace korvana;

namespace {

struct Acked {
    int widths = -1, inserted = -1, edited = -1, updated = -1;
    bool ready = false;
};

Acked parse(const QByteArray &out)
{
    Acked a;
    for (const QByteArray &line : out.split('\n')) {
        const QList<QByteArray> w = line.split(' ');
        if (w.size() != 2)
            continue;
        const int n = w[1].toInt();
        if (w[0] == "ready") a.ready = true;
        else if (w[0] == "w") a.widths = n;
        else if (w[0] == "n") a.inserted = n;
        else if (w[0] == "e") a.edited = n;
        else if (w[0] == "u") a.updated = n;
    }
    return a;
}

// Starts the helper, lets it work for up to maxDelay microseconds once it is
// ready, kills it and reads what it announced.
void killAfter(const QStringList &args, int maxDelay, QRandomGenerator &random, Acked *acked)
{
    QProcess victim;
    victim.start(QStringLiteral(KORVANA_KILLVICTIM_EXE), args);
    QVERIFY(victim.waitForStarted());
    QByteArray out;
    while (!out.contains("ready") && victim.waitForReadyRead(10000))
        out += victim.readAllStandardOutput();
    QVERIFY2(out.contains("ready"), victim.readAllStandardError().constData());
    QThread::usleep(random.bounded(maxDelay));
    ::kill(pid_t(victim.processId()), SIGKILL);
    QVERIFY(victim.waitForFinished(10000));
    QCOMPARE(victim.exitStatus(), QProcess::CrashExit);
    *acked = parse(out + victim.readAllStandardOutput());
}

QList<QStringList> query(sqlite3 *db, const char *sql)
{
    QList<QStringList> rows;
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK)
        return {{QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db))}};
    while (sqlite3_step(s) == SQLITE_ROW) {
        QStringList row;
        for (int c = 0; c < sqlite3_column_count(s); ++c)
            row << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(s, c)));
        rows << row;
    }
    sqlite3_finalize(s);
    return rows;
}

} // namespace

class TestKillWrite : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void killedWhileWriting();
    void killedWhileUpdating();
};

void TestKillWrite::killedWhileWriting()
{
    test::TestDb db;
    db.store.reset();
    const QString widthsPath = db.dir.filePath(QStringLiteral("WGridCol.txt"));
    QRandomGenerator random(20240611);

    int generation = 0;
    int widthsSeen = -1;        // generation of the width file on disk
    QStringList notesSeen;      // N_tel of the stored new entries, in order
    int kills = 0;
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < 100; ++round) {
        Acked acked;
        // From right away to a few rounds of writing in.
        killAfter({db.dir.path(), QString::number(generation)}, 60000, random, &acked);
        if (QTest::currentTestFailed())
            return;
        ++kills;

        // The width file: absent only before the first write, else exactly one generation.
        const QByteArray widths = [&] {
            QFile f(widthsPath);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        if (acked.widths >= 0 || widthsSeen >= 0) {
            const int g = widths.left(widths.indexOf('\r')).toInt() - 1000;
            QVERIFY2(widths == widthFileContent(test::widthsOfGeneration(g)), widths.left(200).constData());
            QVERIFY(g >= std::max(widthsSeen, acked.widths));
            QVERIFY(g <= std::max(widthsSeen, acked.widths + 1) || g == generation);
            widthsSeen = g;
        }

        // The database: sound, every announced entry there, each entry whole.
        sqlite3 *handle = nullptr;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(db.path()).constData(), &handle,
                                 SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        const QList<QStringList> check = query(handle, "PRAGMA integrity_check");
        const QList<QStringList> rows = query(handle, "SELECT N_tel, Family, Street, Kvart1 FROM Note ORDER BY rowid");
        sqlite3_close(handle);
        QCOMPARE(check, QList<QStringList>{{QStringLiteral("ok")}});
        QStringList numbers;
        for (int i = 0; i < rows.size(); ++i) {
            QCOMPARE(rows[i].size(), 4);
            numbers << rows[i][0];
            QCOMPARE(rows[i][3], test::entryName(rows[i][0].toInt()));
            if (i == 0 && rows[i][1] != test::entryName(rows[i][0].toInt()))
                QCOMPARE(rows[i][1], rows[i][2]); // both fields of one edit, or neither
            else
                QCOMPARE(rows[i][1], test::entryName(rows[i][0].toInt()));
        }
        QCOMPARE(numbers.mid(0, notesSeen.size()), notesSeen);
        if (acked.inserted >= 0)
            QVERIFY(numbers.contains(QString::number(acked.inserted)));
        if (acked.edited >= 0) {
            QVERIFY(!rows.isEmpty());
            const int e = rows[0][1].mid(rows[0][1].indexOf(u' ') + 1).toInt();
            QVERIFY(e == acked.edited || e == acked.edited + 1);
        }
        notesSeen = numbers;
        generation = std::max({generation, acked.widths, acked.inserted, acked.edited}) + 2;
    }
    QCOMPARE(kills, 100);
    qInfo("%d kills, %d entries stored, %lld ms", kills, int(notesSeen.size()), clock.elapsed());
    QVERIFY(notesSeen.size() > 0);
    QVERIFY(widthsSeen >= 0);
}

// Each kill leaves kadu.db one whole edition: the public tables of the file
// its record names, and the personal directory with nothing lost or doubled.
void TestKillWrite::killedWhileUpdating()
{
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("kadu.db"));
    const QString names[2] = {QStringLiteral("kadu-jet4"), QStringLiteral("cp1251-jet3")};
    QByteArray digests[2];
    for (int i = 0; i < 2; ++i)
        digests[i] = QCryptographicHash::hash(test::readBytes(test::accessFixture(names[i])),
                                              QCryptographicHash::Sha256).toHex();
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
    int generation = 0, unchanged = 0;
    bool gotAdded = false;
    for (int round = 0; round < 40; ++round) {
        const QByteArray before = test::readBytes(db);
        Acked acked;
        killAfter({QStringLiteral("update"), dir.path(), QString::number(generation),
                   test::accessFixture(names[0]), test::accessFixture(names[1])},
                  maxDelay, random, &acked);
        if (QTest::currentTestFailed())
            return;

        QCOMPARE(test::strings(db, QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
        const QStringList digest = test::strings(db, QStringLiteral("SELECT digest FROM korvana_edition WHERE role = 'imported'"));
        const int edition = digest == QStringList{digests[0]} ? 0 : digest == QStringList{digests[1]} ? 1 : -1;
        QVERIFY2(edition >= 0, qPrintable(digest.join(u',')));
        QCOMPARE(test::publicCsv(db), test::expectedPublicCsv(names[edition]));
        const QStringList rows = test::personalRows(db);
        gotAdded = gotAdded || edition == 0 || rows.size() > personal.size();
        QCOMPARE(rows, gotAdded ? personal + QStringList{added} : personal);
        unchanged += test::readBytes(db) == before;
        if (acked.updated >= 0)
            generation = acked.updated + 1;
    }
    qInfo("%d of 40 kills left kadu.db untouched; %d updates done; kills up to %d ms in", unchanged,
          generation, maxDelay / 1000);
    QVERIFY(generation > 0);
    // What killed updates left beside kadu.db goes with the next one.
    QVERIFY(updateFromAccessFile(test::accessFixture(names[0]), db).ok);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("kadu.db")});
}

QTEST_GUILESS_MAIN(TestKillWrite)
#include "tst_killwrite.moc"
