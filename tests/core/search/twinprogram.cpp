// A second program on the same directory file, for the multi-process test:
//   twinprogram search DB ROUNDS   wildcard searches, the images built anew now and then
//   twinprogram write DB ROUNDS LOG «Мой» entries added, changed and deleted; each
//                                  committed change is appended to LOG
//   twinprogram open DB ROUNDS     opens and closes the file as a second window does
// Exit status 0 when every round went as it must; otherwise a message on stderr.
#include "core/search/recordsource.h"
#include "core/search/searchimages.h"
#include "core/store/store.h"
#include "testdb.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <sqlite3.h>

#include <cstdio>

using namespace korvana;

namespace {

int failWith(const QString &why)
{
    std::fprintf(stderr, "%s\n", qPrintable(why));
    return 3;
}

// Opens the file; busy (a writer waiting for a long read to end) is tried
// again for a while, as a user would start the program again.
std::unique_ptr<Store> openStore(const QString &db)
{
    const QDeadlineTimer deadline(20000);
    for (;;) {
        QString error;
        auto store = Store::open(db, nullptr, &error);
        if (store)
            return store;
        if (!error.contains(QLatin1String("locked")) || deadline.hasExpired()) {
            std::fprintf(stderr, "open: %s\n", qPrintable(error));
            return nullptr;
        }
        QThread::msleep(10);
    }
}

int search(const QString &db, int rounds)
{
    const SearchCriteria cases[] = {{"", "*енко", "", "", ""}, {"", "?ов", "", "", ""}, {"*7", "", "", "", ""},
                                    {"", "", "*ая", "", ""}, {"", "к*в", "*а", "", ""}, {"", "*", "", "1", ""}};
    std::unique_ptr<Store> store;
    std::unique_ptr<SearchImages> images;
    for (int round = 0; round < rounds; ++round) {
        if (round % 15 == 0) {
            // As a new window does: the images are built again from the start.
            images.reset();
            store = openStore(db);
            if (!store)
                return 4;
            images = std::make_unique<SearchImages>(store.get());
            images->start();
        }
        RecordSource rs(DirectoryKind::Residents);
        rs.setStore(store.get());
        rs.setImages(images.get());
        const SearchCriteria &c = cases[round % std::size(cases)];
        const SearchQuery q = buildSearchQuery(c, DirectoryKind::Residents, SortField(1 + round % 5), DirectoryKind::Residents);
        rs.setQuery(q);
        // A search may meet the file busy for longer than its patience (a
        // writer waiting for an image's long read, on a loaded machine): it
        // then shows less, which is no fault; any other error is one.
        // So is an error while a new edition was renamed over the file this
        // store still reads (the next search reads the new one).
        const auto busy = [&] {
            int moved = 0;
            sqlite3_file_control(store->handle(), "main", SQLITE_FCNTL_HAS_MOVED, &moved);
            return moved || (sqlite3_errcode(store->handle()) & 0xff) == SQLITE_BUSY;
        };
        if (rs.refresh() != RecordSource::Outcome::Ok) {
            if (busy())
                continue;
            return failWith(QStringLiteral("search %1 failed: %2").arg(round).arg(store->lastError()));
        }
        for (int r = 0; r < std::min(rs.recordCount(), 40); ++r) {
            if (rs.value(r, 0).isNull() && rs.value(r, 1).isNull() && !busy())
                return failWith(QStringLiteral("search %1: row %2 blank: %3").arg(round).arg(r).arg(store->lastError()));
        }
        // Between two searches the residents change only with a new edition:
        // the count is exact.
        const qint64 scanned = test::scanRowIds(store->handle(), q).size();
        if (rs.recordCount() != scanned && !busy())
            return failWith(QStringLiteral("search %1: %2 rows, a scan finds %3: %4")
                                .arg(round).arg(rs.recordCount()).arg(scanned).arg(store->lastError()));
        QCoreApplication::processEvents();
    }
    return 0;
}

int write(const QString &db, int rounds, const QString &logPath)
{
    QFile log(logPath);
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return failWith(QStringLiteral("cannot write %1").arg(logPath));
    std::unique_ptr<Store> store = openStore(db);
    if (!store)
        return 4;
    QList<qint64> mine; // rowids of the entries this program added and has not deleted
    for (int round = 0; round < rounds; ++round) {
        const int op = mine.size() < 3 ? 0 : std::max(0, round % 4 - 1); // insert twice, edit, delete
        const qint64 rowid = op ? mine.at(round % mine.size()) : 0;
        const QString family = QStringLiteral("Запись %1 «ё»").arg(round);
        const QVariantList entry = {QStringLiteral("w%1").arg(round), family, QStringLiteral("Улица"),
                                    QString::number(round), {}, QString(), {}};
        QByteArray line;
        // Busy while an update holds the file; a replaced file is opened anew.
        const QDeadlineTimer deadline(30000);
        for (;;) {
            bool done = store->begin();
            qint64 added = 0;
            if (done && op == 0)
                done = store->insertRow(DirectoryKind::Personal, entry, &added);
            else if (done && op == 1)
                done = store->updateField(DirectoryKind::Personal, rowid, QStringLiteral("Family"), family);
            else if (done)
                done = store->deleteRow(DirectoryKind::Personal, rowid);
            if (done && store->commit()) {
                // What was committed: the entry's fields (NULL as \N), its new name, or nothing.
                QStringList content;
                for (const QVariant &v : op == 0 ? entry : op == 1 ? QVariantList{family} : QVariantList{})
                    content << (v.isNull() ? QStringLiteral("\\N") : v.toString());
                line = ((op == 0 ? QStringLiteral("insert\t") : op == 1 ? QStringLiteral("edit\t") : QStringLiteral("delete\t"))
                        + QString::number(op == 0 ? added : rowid) + u'\t' + content.join(u'\t') + u'\n').toUtf8();
                if (op == 0)
                    mine << added;
                if (op == 2)
                    mine.removeOne(rowid);
                break;
            }
            const QString why = store->lastError();
            store->rollback();
            if (deadline.hasExpired())
                return failWith(QStringLiteral("write %1: %2").arg(round).arg(why));
            if (why.contains(QStringLiteral("заменён"))) {
                store = openStore(db);
                if (!store)
                    return 4;
            }
            QThread::msleep(5); // the update's lock is held for a while
        }
        if (log.write(line) != line.size())
            return failWith(QStringLiteral("cannot log"));
    }
    return 0;
}

int open(const QString &db, int rounds)
{
    for (int round = 0; round < rounds; ++round) {
        std::unique_ptr<Store> store = openStore(db);
        if (!store)
            return 4;
        RecordSource personal(DirectoryKind::Personal);
        personal.setStore(store.get());
        if (personal.refresh() != RecordSource::Outcome::Ok && (sqlite3_errcode(store->handle()) & 0xff) != SQLITE_BUSY)
            return failWith(QStringLiteral("open %1: «Мой» not read: %2").arg(round).arg(store->lastError()));
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    const QString role = args.at(1), db = args.at(2);
    const int rounds = args.at(3).toInt();
    if (role == QLatin1String("search"))
        return search(db, rounds);
    if (role == QLatin1String("write") && args.size() == 5)
        return write(db, rounds, args.at(4));
    if (role == QLatin1String("open"))
        return open(db, rounds);
    return 2;
}
