// Several programs on one directory file at once, as real processes: two
// search with wildcards while their images are built and built again, one
// writes «Мой», one opens and closes the file as a second window does, and
// two edition updates run together. None may crash, no committed «Мой»
// change may be lost or doubled, and the file must be left whole and free.
#include "core/store/store.h"
#include "accessfixtures.h"
#include "testdb.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

using namespace korvana;

namespace {

constexpr int kResidents = 50000;

void makeTown(const QString &path)
{
    QString error;
    auto store = Store::create(path, &error);
    QVERIFY2(store, qPrintable(error));
    const char *names[] = {"Коваленко", "Петров", "Шевчук", "Ковалёв", "Сидоренко", "Иванов"};
    const char *streets[] = {"Садовая", "Лесная", "Мира", "Ясная", "Шевченко"};
    QVERIFY(store->begin());
    for (int i = 0; i < kResidents; ++i)
        QVERIFY(store->insertRow(DirectoryKind::Residents,
                                 {QString::number(200000 + i), QStringLiteral("%1 %2").arg(QString::fromUtf8(names[i % 6])).arg(i),
                                  QString::fromUtf8(streets[i % 5]), QString::number(1 + i % 120), {}, QString::number(1 + i % 90), {}}));
    QVERIFY(store->insertRow(DirectoryKind::Personal, {QStringLiteral("11111"), QStringLiteral("Свой")}));
    QVERIFY(store->commit());
    QVERIFY(store->createIndexes(&error));
}

// The «Мой» entries the writer's log says are committed, as personalBytes()
// shows them; a change to an entry not there, or an entry added twice, is
// counted in `anomalies`.
QStringList replay(const QString &logPath, int *anomalies)
{
    QMap<qint64, QStringList> out;
    const auto asStored = [](const QString &v) {
        return v == QLatin1String("\\N") ? QStringLiteral("null:NULL") : QStringLiteral("text:X'%1'").arg(QString::fromLatin1(v.toUtf8().toHex().toUpper()));
    };
    for (const QByteArray &raw : test::readBytes(logPath).split('\n')) {
        const QStringList f = QString::fromUtf8(raw).split(u'\t');
        if (f.size() < 2)
            continue;
        const qint64 id = f.at(1).toLongLong();
        if (f.at(0) == QLatin1String("insert")) {
            *anomalies += out.contains(id);
            QStringList fields;
            for (const QString &v : f.mid(2))
                fields << asStored(v);
            out.insert(id, fields);
        } else if (f.at(0) == QLatin1String("edit") && out.contains(id)) {
            out[id][1] = asStored(f.at(2));
        } else {
            *anomalies += out.remove(id) != 1;
        }
    }
    QStringList rows;
    for (auto i = out.cbegin(); i != out.cend(); ++i)
        rows << QString::number(i.key()) + u' ' + i.value().join(u' ');
    return rows;
}

} // namespace

class TestTwoPrograms : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void manyProgramsShareOneFile()
    {
        QElapsedTimer clock;
        clock.start();
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("kadu.db")), log = dir.filePath(QStringLiteral("writes.log"));
        makeTown(db);
        if (QTest::currentTestFailed())
            return;
        const QString mdb = dir.filePath(QStringLiteral("kadu.mdb"));
        test::copyAccessFixture(test::kJet4, mdb);

        std::vector<std::unique_ptr<QProcess>> programs;
        const auto start = [&](const QString &exe, const QStringList &args) {
            programs.push_back(std::make_unique<QProcess>());
            programs.back()->setProcessChannelMode(exe == QLatin1String(KORVANA_IMPORT_EXE) ? QProcess::SeparateChannels : QProcess::ForwardedOutputChannel);
            programs.back()->start(exe, args);
            QVERIFY(programs.back()->waitForStarted());
        };
        const QString twin = QStringLiteral(KORVANA_TWIN_EXE), import = QStringLiteral(KORVANA_IMPORT_EXE);
        start(twin, {QStringLiteral("search"), db, QStringLiteral("30")});
        start(twin, {QStringLiteral("search"), db, QStringLiteral("30")});
        start(twin, {QStringLiteral("write"), db, QStringLiteral("240"), log});
        start(twin, {QStringLiteral("open"), db, QStringLiteral("40")});
        // The updates start once the writer is well under way.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(log).size() > 2000, 30000);
        start(import, {QStringLiteral("--update"), mdb, db});
        start(import, {QStringLiteral("--update"), mdb, db});

        for (const auto &p : programs) {
            QVERIFY2(p->state() == QProcess::NotRunning || p->waitForFinished(std::max<qint64>(1000, 55000 - clock.elapsed())),
                     qPrintable(p->arguments().join(u' ') + QStringLiteral(" did not finish")));
            const QString err = QString::fromUtf8(p->readAllStandardError());
            // An update that waited longer than its patience for the other one
            // says so and changes nothing; that is no fault.
            const bool waitedOut = p->program() == import && p->exitCode() == 1 && err.contains(QStringLiteral("занят"));
            if (p->program() == import)
                qInfo("update: %d %s", p->exitCode(), qPrintable(err.trimmed()));
            QVERIFY2(p->exitStatus() == QProcess::NormalExit && (p->exitCode() == 0 || waitedOut),
                     qPrintable(p->arguments().join(u' ') + u'\n' + err));
        }

        // The update took the new edition; every committed «Мой» change is there once, byte for byte.
        QCOMPARE(test::strings(db, QStringLiteral("SELECT count(*) FROM NASELEN")), QStringList{QStringLiteral("120")});
        int anomalies = 0;
        const QStringList expected = replay(log, &anomalies);
        QVERIFY(expected.size() > 10);
        QCOMPARE(test::personalBytes(db, QStringLiteral("N_tel GLOB 'w*'")), expected);
        QCOMPARE(anomalies, 0);
        QCOMPARE(test::strings(db, QStringLiteral("PRAGMA integrity_check")), QStringList{QStringLiteral("ok")});
        // Nobody holds the file: a writer gets it at once.
        test::OtherProgram check(db);
        QCOMPARE(check.exec(QStringLiteral("BEGIN IMMEDIATE")), SQLITE_OK);
        qInfo("%lld ms", qint64(clock.elapsed()));
    }
};

QTEST_GUILESS_MAIN(TestTwoPrograms)
#include "tst_twoprograms.moc"
