// Eight seats work «Мой» on one server at once, their shared rows colliding
// on purpose, and the server is restarted in the middle: every change a
// seat was told committed is on the server once, every seat's mirror equals
// the server's table, no seat dies. Prints the save and notice times.

#include "pgcluster.h"

#include "core/server/editionwatch.h"
#include "core/server/pgconnection.h"
#include "core/server/serveredition.h"

#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace korvana;
using namespace Qt::StringLiterals;
using korvana::test::PgCluster;

namespace {

constexpr int kSeats = 8;
constexpr int kRounds = 200;

double percentile(QList<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(std::min<qsizetype>(values.size() - 1, qsizetype(p * values.size())));
}

} // namespace

class TestNotesLoad : public QObject {
    Q_OBJECT
    PgCluster m_cluster;

private slots:
    void initTestCase()
    {
        if (const QString why = PgCluster::skipReason(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY2(m_cluster.start(), qPrintable(m_cluster.error()));
        PgConnection loader;
        QString error;
        QVERIFY2(loader.open(PgCluster::kLoader) && ensureServerSchema(loader, &error), qPrintable(error));
    }

    void eightSeatsAndARestart()
    {
        PgConnection db;
        QVERIFY(db.open(PgCluster::kSeat));
        QStringList shared;
        for (const QString number : {u"общ-0"_s, u"общ-1"_s, u"общ-2"_s})
            shared << db.exec(u"INSERT INTO korvana.note (n_tel, family) VALUES ($1, 'общий') RETURNING id"_s, {number}).text(0, 0);
        // Another seat's ear: when each notice arrives.
        EditionWatch watch(PgCluster::kSeat);
        watch.setRetryInterval(100);
        QList<qint64> heard;
        connect(&watch, &EditionWatch::notesChanged, this, [&] { heard << QDateTime::currentMSecsSinceEpoch(); });
        watch.start();
        QTRY_VERIFY_WITH_TIMEOUT(watch.isConnected(), 10000);

        QTemporaryDir folder;
        QList<QProcess *> seats;
        QList<QStringList> said(kSeats);
        int furthest = -1;
        for (int s = 0; s < kSeats; ++s) {
            auto *p = new QProcess(this);
            connect(p, &QProcess::readyReadStandardOutput, this, [&, p, s] {
                while (p->canReadLine()) {
                    said[s] << QString::fromUtf8(p->readLine()).chopped(1);
                    if (said[s].last().startsWith(u"r "_s))
                        furthest = std::max(furthest, said[s].last().mid(2).toInt());
                }
            });
            p->start(QStringLiteral(KORVANA_NOTESEAT_EXE),
                     QStringList{PgCluster::kSeat, QString::number(s), QString::number(kRounds), folder.path()} + shared);
            seats << p;
        }
        QTRY_VERIFY_WITH_TIMEOUT(furthest >= kRounds / 2, 60000);
        QVERIFY(m_cluster.stop() && m_cluster.restart());
        const QString last = u"r %1"_s.arg(kRounds - 1);
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(said.cbegin(), said.cend(), [&](auto &l) { return l.contains(last); }), 60000);
        for (QProcess *p : seats)
            p->write("dump\n");
        for (QProcess *p : seats) {
            QVERIFY(p->waitForFinished(30000));
            QCOMPARE(p->exitStatus(), QProcess::NormalExit);
            QCOMPARE(p->exitCode(), 0);
        }

        // The server's table, as the superuser sees it.
        QVERIFY(db.open(PgCluster::kSuper));
        const PgResult rows = db.exec(u"SELECT id, n_tel, family FROM korvana.note ORDER BY id"_s);
        QStringList table;
        QHash<QString, int> numbers;
        QHash<qint64, QString> family;
        for (int r = 0; r < rows.rows(); ++r) {
            table << u"m %1|%2|%3"_s.arg(rows.text(r, 0), rows.text(r, 1), rows.text(r, 2));
            ++numbers[rows.text(r, 1)];
            family.insert(rows.int64(r, 0), rows.text(r, 2));
        }

        QList<double> saves, notices;
        int refused = 0;
        for (const QStringList &lines : std::as_const(said)) {
            QHash<qint64, QString> number;      // own rows told committed
            QHash<qint64, QStringList> finals;  // a row's possible final family: the last told, then unsure ones
            QSet<qint64> deleted, maybeDeleted; // told, and refused on a lost connection
            QStringList mirror;
            for (const QString &line : lines) {
                const QStringList f = line.split(u' ');
                if (f.at(0) == u"m"_s)
                    mirror << line;
                if (f.size() < 5 || !u"ied"_s.contains(f.at(0)))
                    continue;
                const qint64 id = f.at(1).toLongLong();
                const bool ok = f.at(2) == u"OK"_s;
                const QString value = f.mid(5).join(u' ');
                saves << f.at(3).toDouble();
                refused += !ok;
                if (f.at(0) == u"i"_s && ok) {
                    number.insert(id, value);
                    finals[id] = {u"Пост "_s + value};
                    const auto first = std::lower_bound(heard.cbegin(), heard.cend(), f.at(4).toLongLong());
                    if (first != heard.cend())
                        notices << double(*first - f.at(4).toLongLong());
                } else if (f.at(0) == u"e"_s && number.contains(id)) {
                    finals[id] = ok ? QStringList{value} : finals[id] << value;
                } else if (f.at(0) == u"d"_s) {
                    (ok ? deleted : maybeDeleted) << id;
                }
            }
            QCOMPARE(mirror, table);
            for (auto it = number.cbegin(); it != number.cend(); ++it) {
                const int count = numbers.value(it.value());
                QCOMPARE(count, deleted.contains(it.key()) || (maybeDeleted.contains(it.key()) && count == 0) ? 0 : 1);
                if (count == 1)
                    QVERIFY2(finals[it.key()].contains(family.value(it.key())), qPrintable(family.value(it.key())));
            }
        }
        QVERIFY(refused > 0); // the shared rows collided
        qInfo("«Мой» save: p50 %.2f ms, p95 %.2f ms over %lld saves (%d refused); notice to another seat: p50 %.0f ms, p95 %.0f ms",
              percentile(saves, 0.5), percentile(saves, 0.95), qlonglong(saves.size()), refused,
              percentile(notices, 0.5), percentile(notices, 0.95));
    }
};

QTEST_GUILESS_MAIN(TestNotesLoad)
#include "tst_notesload.moc"
