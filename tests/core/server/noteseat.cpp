// Helper of tst_notesload: one seat of an office working «Мой» through the
// program's own code, announcing on stdout what the server told it:
//   "i ID OK|NO MS T N" an insert of number N (OK: committed as row ID)
//   "e ID OK|NO MS T V" an edit of row ID to family V
//   "d ID OK|NO MS T"   a delete of row ID
//   "r K"               round K done
// MS is how long the save took, T when it returned (ms since the epoch). After its rounds it waits for a line on
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
using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString service = args.at(0), seat = args.at(1);
    QList<qint64> shared;
    for (const QString &id : args.mid(4))
        shared << id.toLongLong();
    std::unique_ptr<Store> copy = Store::create(args.at(3) + u"/seat"_s + seat + u".db"_s);
    PgConnection db;
    // Back on the server after a lost connection, waiting at most 60 s.
    const auto reconnect = [&] {
        for (QDeadlineTimer deadline(60000); !deadline.hasExpired(); QThread::msleep(100))
            if (db.isOpen() || db.open(service, 2))
                return true;
        return false;
    };
    if (!copy || !reconnect())
        return 3;
    ServerNotes notes(db, *copy);
    RecordSource search(DirectoryKind::Personal);
    search.setStore(copy.get());
    SearchCriteria criteria;
    criteria.number = seat + u"-"_s; // a seat searches its own numbers in the mirror
    search.setQuery(buildSearchQuery(criteria, DirectoryKind::Personal, SortField::Number, DirectoryKind::Personal));

    const auto say = [](const QString &line) {
        std::printf("%s\n", line.toUtf8().constData());
        std::fflush(stdout);
    };
    // Runs a save and says what became of it.
    const auto save = [&](const char *kind, const std::function<NoteSave()> &run, qint64 id, const QString &tail) {
        QElapsedTimer clock;
        clock.start();
        const NoteSave s = run();
        say(u"%1 %2 %3 %4 %5 %6"_s.arg(QLatin1String(kind)).arg(id ? id : s.id).arg(s.ok() ? "OK" : "NO")
                .arg(clock.nsecsElapsed() / 1e6, 0, 'f', 2).arg(QDateTime::currentMSecsSinceEpoch()).arg(tail).trimmed());
        return s;
    };
    QList<qint64> own;
    for (int round = 0; round < args.at(2).toInt(); ++round) {
        if (!db.isOpen())
            reconnect();
        notes.refresh();
        search.refresh();
        const QString number = u"%1-%2"_s.arg(seat).arg(round);
        const NoteSave in = save("i", [&] { return notes.insert({number, u"Пост "_s + number, {}, {}, {}, {}, {}}); }, 0, number);
        if (in.ok())
            own << in.id;
        for (const auto &[rows, value] : {std::pair{&own, u"свой "_s}, std::pair{&shared, u"общий "_s}}) {
            if (const qint64 id = rows->isEmpty() ? 0 : rows->at(round % rows->size()))
                save("e", [&] { return notes.edit(id, {{1, value + number}}); }, id, value + number);
        }
        if (round % 3 == 2 && !own.isEmpty()) {
            const qint64 id = own.takeFirst();
            if (!save("d", [&] { return notes.remove(id); }, id, {}).ok())
                own.prepend(id);
        }
        say(u"r %1"_s.arg(round));
    }

    std::string line;
    std::getline(std::cin, line);
    if (!reconnect() || !notes.refresh())
        return 4;
    Statement::Use use(*copy->statement(u"SELECT rowid, N_tel, Family FROM Note ORDER BY rowid"_s));
    while (use->step() == 100)
        say(u"m %1|%2|%3"_s.arg(use->columnInt64(0)).arg(use->column(1).toString(), use->column(2).toString()));
    say(u"end"_s);
    return 0;
}
