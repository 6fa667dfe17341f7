// Helper of tst_notesload: one seat of an office working «Мой» through the
// program's own code, announcing on stdout what the server told it:
//   "i ID N OK|NO MS T" an insert of number N (OK: committed as row ID at T, ms since the epoch)
//   "e ID V OK|NO MS"  an edit of row ID to family V
//   "d ID OK|NO MS"    a delete of row ID
//   "r K"              round K done
// MS is how long the save took. After its rounds it waits for a line on
// stdin, takes the server's rows into its mirror and prints them
// ("m ID|N_tel|Family"), then "end".
//   noteseat SERVICE SEAT ROUNDS FOLDER SHARED_ID...
#include "core/search/recordsource.h"
#include "core/search/searchquery.h"
#include "core/server/pgconnection.h"
#include "core/server/servernotes.h"
#include "core/store/store.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>
#include <iostream>
#include <string>

using namespace korvana;

namespace {

void say(const QString &line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// Back on the server after a lost connection, waiting at most 60 s.
bool reconnect(PgConnection &db, const QString &service)
{
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        if (db.isOpen() || db.open(service, 2))
            return true;
        QThread::msleep(100);
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString service = args.at(0);
    const QString seat = args.at(1);
    const int rounds = args.at(2).toInt();
    QList<qint64> shared;
    for (const QString &id : args.mid(4))
        shared << id.toLongLong();
    std::unique_ptr<Store> copy = Store::create(args.at(3) + QStringLiteral("/seat") + seat + QStringLiteral(".db"));
    PgConnection db;
    if (!copy || !reconnect(db, service))
        return 3;
    ServerNotes notes(db, *copy);
    RecordSource search(DirectoryKind::Personal);
    search.setStore(copy.get());

    QList<qint64> own;
    QElapsedTimer clock;
    const auto verdict = [&](const NoteSave &s) {
        return QStringLiteral("%1 %2").arg(s.ok() ? "OK" : "NO").arg(clock.nsecsElapsed() / 1e6, 0, 'f', 2);
    };
    for (int round = 0; round < rounds; ++round) {
        if (!db.isOpen())
            reconnect(db, service);
        notes.refresh();
        // The searches of a seat: a prefix of the seat's own numbers in the mirror.
        SearchCriteria criteria;
        criteria.number = seat + QStringLiteral("-");
        search.setQuery(buildSearchQuery(criteria, DirectoryKind::Personal, SortField::Number, DirectoryKind::Personal));
        search.refresh();

        const QString number = QStringLiteral("%1-%2").arg(seat).arg(round);
        clock.start();
        const NoteSave in = notes.insert({number, QStringLiteral("Пост %1").arg(number), {}, {}, {}, {}, {}});
        say(QStringLiteral("i %1 %2 %3 %4").arg(in.id).arg(number, verdict(in)).arg(QDateTime::currentMSecsSinceEpoch()));
        if (in.ok())
            own << in.id;
        if (!own.isEmpty()) {
            const qint64 id = own.at(round % own.size());
            const QString value = QStringLiteral("свой %1").arg(number);
            clock.start();
            const NoteSave e = notes.edit(id, {{1, value}});
            say(QStringLiteral("e %1 %2 %3").arg(id).arg(value, verdict(e)));
        }
        if (!shared.isEmpty()) {
            const qint64 id = shared.at(round % shared.size());
            const QString value = QStringLiteral("общий %1").arg(number);
            clock.start();
            const NoteSave e = notes.edit(id, {{1, value}});
            say(QStringLiteral("e %1 %2 %3").arg(id).arg(value, verdict(e)));
        }
        if (round % 3 == 2 && !own.isEmpty()) {
            const qint64 id = own.takeFirst();
            clock.start();
            const NoteSave d = notes.remove(id);
            say(QStringLiteral("d %1 %2").arg(id).arg(verdict(d)));
            if (!d.ok())
                own.prepend(id);
        }
        say(QStringLiteral("r %1").arg(round));
    }

    std::string line;
    std::getline(std::cin, line);
    if (!reconnect(db, service) || !notes.refresh())
        return 4;
    Statement *rows = copy->statement(QStringLiteral("SELECT rowid, N_tel, Family FROM Note ORDER BY rowid"));
    Statement::Use use(*rows);
    while (use->step() == 100)
        say(QStringLiteral("m %1|%2|%3").arg(use->columnInt64(0)).arg(use->column(1).toString(), use->column(2).toString()));
    say(QStringLiteral("end"));
    return 0;
}
