#include "core/server/serveredition.h"

#include "core/app/sidefiles.h"
#include "core/server/pgconnection.h"
#include "core/server/servernotes.h"
#include "core/store/directorykind.h"
#include "core/store/store.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <filesystem>

#include <sqlite3.h>
#include <unistd.h>

namespace korvana {

namespace {

// Pieces of the image as stored and fetched: large enough that a town of a
// million residents is a few hundred round trips, small enough to keep the
// memory of server and seat low.
constexpr qint64 kChunkSize = 4 * 1024 * 1024;
// Loads of two administrators at once are taken one after the other.
constexpr qint64 kLoadLock = 0x4b6f7276616e61; // "Korvana"

const char *const kSchema[] = {
    "CREATE SCHEMA IF NOT EXISTS korvana",
    "GRANT USAGE ON SCHEMA korvana TO PUBLIC",
    "CREATE TABLE IF NOT EXISTS korvana.edition ("
    " id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
    " source_name text NOT NULL, source_size bigint NOT NULL,"
    " source_modified timestamptz, source_digest text NOT NULL,"
    " loaded_at timestamptz NOT NULL DEFAULT now(), loaded_by text NOT NULL DEFAULT current_user,"
    " residents bigint NOT NULL, enterprises bigint NOT NULL, personal bigint NOT NULL,"
    " image_size bigint, image_sha256 text)",
    "CREATE TABLE IF NOT EXISTS korvana.edition_chunk ("
    " edition bigint NOT NULL REFERENCES korvana.edition(id) ON DELETE CASCADE,"
    " seq integer NOT NULL, data bytea NOT NULL, PRIMARY KEY (edition, seq))",
    // The image is a database file: compressing it again gains little and costs the load time.
    "ALTER TABLE korvana.edition_chunk ALTER COLUMN data SET STORAGE EXTERNAL",
    "CREATE TABLE IF NOT EXISTS korvana.served ("
    " one boolean PRIMARY KEY DEFAULT true CHECK (one),"
    " edition bigint NOT NULL REFERENCES korvana.edition(id))",
    "GRANT SELECT ON korvana.edition, korvana.edition_chunk, korvana.served TO PUBLIC",
};

QDateTime fromMillis(const PgResult &r, int row, int column)
{
    return r.isNull(row, column) ? QDateTime()
                                 : QDateTime::fromMSecsSinceEpoch(r.int64(row, column), Qt::UTC);
}

PgParam timeParam(const QDateTime &t)
{
    return t.isValid() ? PgParam(t.toMSecsSinceEpoch()) : PgParam::null();
}

QString shown(const QString &path) { return QDir::toNativeSeparators(path); }

// A copy of a directory file taken with SQLite's backup, so that a program
// writing it meanwhile cannot leave the copy half old, half new.
bool snapshotDatabase(const QString &from, const QString &to, QString *error)
{
    sqlite3 *src = nullptr, *dst = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(from).constData(), &src, SQLITE_OPEN_READONLY, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_open_v2(QFile::encodeName(to).constData(), &dst,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(src, 5000);
        sqlite3_backup *backup = sqlite3_backup_init(dst, "main", src, "main");
        if (backup) {
            do
                rc = sqlite3_backup_step(backup, -1);
            while (rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
            sqlite3_backup_finish(backup);
            rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
        } else {
            rc = sqlite3_errcode(dst);
        }
    }
    if (rc != SQLITE_OK)
        *error = QStringLiteral("Не удаётся прочитать файл %1: %2")
                     .arg(shown(from), QString::fromUtf8(sqlite3_errstr(rc)));
    sqlite3_close(src);
    sqlite3_close(dst);
    return rc == SQLITE_OK;
}

class Loader {
public:
    Loader(const QString &service, const ImportProgress &progress)
        : m_service(service), m_progress(progress)
    {
    }

    ServerLoadResult fromAccess(const QString &mdbPath)
    {
        if (!m_dir.isValid())
            return fail(QStringLiteral("Не удаётся создать временную папку"));
        const QString built = m_dir.filePath(QStringLiteral("kadu.db"));
        const ImportResult imported = importAccessFile(mdbPath, built, m_progress);
        m_result.warnings = imported.warnings;
        if (!imported.ok) {
            m_result.cancelled = imported.cancelled;
            return fail(imported.error);
        }
        const std::optional<EditionRecords> records = readEditions(built);
        if (!records || !records->imported)
            return fail(QStringLiteral("Не удаётся прочитать файл %1").arg(shown(built)));
        return load(built, *records->imported, false);
    }

    ServerLoadResult fromDb(const QString &dbPath)
    {
        if (!QFileInfo(dbPath).isFile())
            return fail(QStringLiteral("Файл %1 не найден").arg(shown(dbPath)));
        if (!m_dir.isValid())
            return fail(QStringLiteral("Не удаётся создать временную папку"));
        const QString image = m_dir.filePath(QStringLiteral("kadu.db"));
        if (!snapshotDatabase(dbPath, image, &m_result.error))
            return m_result;
        // The edition it records came from the town's file; one made
        // otherwise is known by its own name and content.
        const std::optional<EditionRecords> records = readEditions(image);
        std::optional<Edition> source = records && records->imported ? records->imported
                                                                      : fileEdition(dbPath);
        if (!records || !source || (source->digest.isEmpty() && !computeDigest(*source, dbPath)))
            return fail(QStringLiteral("Файл %1 не является базой справочника").arg(shown(dbPath)));
        return load(image, *source, true);
    }

private:
    ServerLoadResult fail(const QString &message)
    {
        m_result.ok = false;
        m_result.error = message;
        return m_result;
    }

    ServerLoadResult serverFail(const QString &what)
    {
        return fail(QStringLiteral("Сервер справочника «%1»: %2: %3").arg(m_service, what, m_db.error()));
    }

    bool stop(const QString &message)
    {
        fail(message);
        return false;
    }

    bool report(qint64 done, qint64 total)
    {
        if (!m_progress || m_progress(done, total))
            return true;
        m_result.cancelled = true;
        return false;
    }

    // Marks the image with its edition, drops what is not to be served and
    // counts its rows.
    bool prepareImage(const QString &image, qint64 id, bool dropPersonal, Edition &source)
    {
        QString why;
        std::unique_ptr<Store> store = Store::open(image, nullptr, &why);
        if (!store)
            return stop(QStringLiteral("Файл справочника не открывается: %1").arg(why));
        const bool ok = store->begin()
            && (!dropPersonal || store->exec(QStringLiteral("DELETE FROM Note")))
            && store->exec(QStringLiteral("CREATE TABLE IF NOT EXISTS korvana_served (edition INTEGER NOT NULL)"))
            && store->exec(QStringLiteral("DELETE FROM korvana_served"));
        Statement *mark = ok ? store->statement(QStringLiteral("INSERT INTO korvana_served VALUES (?1)")) : nullptr;
        bool marked = false;
        if (mark) {
            Statement::Use use(*mark);
            mark->bindInt64(1, id);
            marked = mark->step() == SQLITE_DONE;
        }
        if (!marked || !store->commit()) {
            store->rollback();
            return stop(QStringLiteral("Не удаётся записать временный файл: %1").arg(store->lastError()));
        }
        source.residents = store->tableRowCount(DirectoryKind::Residents);
        source.enterprises = store->tableRowCount(DirectoryKind::Enterprises);
        source.personal = store->tableRowCount(DirectoryKind::Personal);
        return true;
    }

    ServerLoadResult load(const QString &image, Edition source, bool dropPersonal)
    {
        if (!m_db.open(m_service))
            return fail(QStringLiteral("Нет связи с сервером справочника «%1»: %2")
                            .arg(m_service, m_db.error()));
        // Everything below is one transaction: a failure, a cancel or a lost
        // connection rolls it back and the seats keep the served edition.
        if (!m_db.run(QStringLiteral("BEGIN"))
            || !m_db.run(QStringLiteral("SELECT pg_advisory_xact_lock($1)"), {PgParam(kLoadLock)}))
            return serverFail(QStringLiteral("загрузка не начата"));
        QString why;
        if (!ensureServerSchema(m_db, &why))
            return fail(QStringLiteral("Сервер справочника «%1»: не удаётся создать схему korvana: %2")
                            .arg(m_service, why));
        const PgResult row = m_db.exec(
            QStringLiteral("INSERT INTO korvana.edition (source_name, source_size, source_modified,"
                           " source_digest, residents, enterprises, personal)"
                           " VALUES ($1, $2, to_timestamp($3::bigint / 1000.0), $4, 0, 0, 0) RETURNING id"),
            {source.fileName, source.size, timeParam(source.modified), QString::fromLatin1(source.digest)});
        if (row.rows() != 1)
            return serverFail(QStringLiteral("издание не записано"));
        const qint64 id = row.int64(0, 0);
        if (!prepareImage(image, id, dropPersonal, source))
            return m_result;
        QByteArray sha;
        qint64 size = 0;
        if (!upload(image, id, &sha, &size))
            return m_result;
        const bool switched =
            m_db.run(QStringLiteral("UPDATE korvana.edition SET residents = $2, enterprises = $3,"
                                    " personal = $4, image_size = $5, image_sha256 = $6 WHERE id = $1"),
                     {id, source.residents, source.enterprises, source.personal, size, QString::fromLatin1(sha)})
            // Seats fetching the previous image still read it in their own snapshot.
            && m_db.run(QStringLiteral("DELETE FROM korvana.edition_chunk WHERE edition <> $1"), {id})
            && m_db.run(QStringLiteral("INSERT INTO korvana.served (edition) VALUES ($1)"
                                       " ON CONFLICT (one) DO UPDATE SET edition = EXCLUDED.edition"),
                        {id})
            && m_db.run(QStringLiteral("SELECT pg_notify($1, $2)"),
                        {kEditionChannel, QString::number(id)})
            && m_db.run(QStringLiteral("COMMIT"));
        if (!switched)
            return serverFail(QStringLiteral("издание не записано"));
        std::optional<ServedEdition> served = servedEdition(m_db, &why);
        if (!served)
            return fail(why);
        m_result.edition = *served;
        m_result.ok = true;
        return m_result;
    }

    bool upload(const QString &image, qint64 id, QByteArray *sha, qint64 *size)
    {
        QFile file(image);
        if (!file.open(QIODevice::ReadOnly))
            return stop(QStringLiteral("Не удаётся прочитать временный файл: %1").arg(file.errorString()));
        QCryptographicHash hash(QCryptographicHash::Sha256);
        const qint64 total = file.size();
        for (int seq = 0;; ++seq) {
            const QByteArray chunk = file.read(kChunkSize);
            if (chunk.isEmpty())
                break;
            hash.addData(chunk);
            *size += chunk.size();
            if (!m_db.run(QStringLiteral("INSERT INTO korvana.edition_chunk (edition, seq, data)"
                                         " VALUES ($1, $2, $3)"),
                          {id, qint64(seq), PgParam(chunk, true)}))
                return stop(QStringLiteral("Сервер справочника «%1»: издание не записано: %2").arg(m_service, m_db.error()));
            if (!report(*size, total))
                return stop(QStringLiteral("Загрузка издания на сервер «%1» прервана").arg(m_service));
        }
        if (*size != total)
            return stop(QStringLiteral("Не удаётся прочитать временный файл: %1").arg(file.errorString()));
        *sha = hash.result().toHex();
        return true;
    }

    const QString m_service;
    const ImportProgress &m_progress;
    QTemporaryDir m_dir;
    PgConnection m_db;
    ServerLoadResult m_result;
};

// Puts the «Мой» entries of the copy being replaced into the new one.
// The seat's «Мой» rows move from the locked old copy into the new one by
// SQL, each under its own rowid, so every value keeps its type and bytes;
// fields a file made by hand lacks come as NULL.
bool carryPersonal(const DirectoryLock &lock, const QString &from, const QString &path, QString *why)
{
    std::unique_ptr<Store> store = Store::open(path, nullptr, why);
    if (!store)
        return false;
    const TableInfo &note = tableInfo(DirectoryKind::Personal);
    const QList<bool> &have = lock.personalFields();
    QStringList columns;
    for (int i = 0; i < note.fields.size(); ++i)
        columns << (i < have.size() && have.at(i) ? note.fields.at(i) : QStringLiteral("NULL"));
    Statement attach(store->handle(), QStringLiteral("ATTACH DATABASE ?1 AS kept"));
    attach.bindText(1, from);
    bool ok = attach.step() == SQLITE_DONE && store->begin()
        && store->exec(QStringLiteral("DELETE FROM main.%1").arg(note.table), why);
    if (ok && !have.isEmpty())
        ok = store->exec(QStringLiteral("INSERT INTO main.%1 (rowid, %2) SELECT rowid, %3 FROM kept.%1 ORDER BY rowid")
                             .arg(note.table, note.fields.join(QStringLiteral(", ")), columns.join(QStringLiteral(", "))),
                         why);
    if (ok && store->refreshShadows(DirectoryKind::Personal, why) && store->commit()) {
        store->exec(QStringLiteral("DETACH DATABASE kept"));
        return true;
    }
    if (why->isEmpty())
        *why = store->lastError();
    store->rollback();
    return false;
}

} // namespace

bool ensureServerSchema(PgConnection &db, QString *error)
{
    for (const char *statement : kSchema) {
        if (!db.run(QString::fromLatin1(statement))) {
            *error = db.error();
            return false;
        }
    }
    return ensureNoteSchema(db, error);
}

ServerLoadResult loadServerEditionFromAccess(const QString &service, const QString &mdbPath,
                                             const ImportProgress &progress)
{
    return Loader(service, progress).fromAccess(mdbPath);
}

ServerLoadResult loadServerEditionFromDb(const QString &service, const QString &dbPath,
                                         const ImportProgress &progress)
{
    return Loader(service, progress).fromDb(dbPath);
}

std::optional<ServedEdition> servedEdition(PgConnection &db, QString *error)
{
    const PgResult r = db.exec(QStringLiteral(
        "SELECT e.id, e.source_name, e.source_size,"
        " (extract(epoch FROM e.source_modified) * 1000)::bigint, e.source_digest,"
        " (extract(epoch FROM e.loaded_at) * 1000)::bigint, e.loaded_by,"
        " e.residents, e.enterprises, e.personal, e.image_sha256, e.image_size"
        " FROM korvana.served s JOIN korvana.edition e ON e.id = s.edition"));
    error->clear();
    if (!r.ok()) {
        // A server where nothing was ever loaded has no schema yet: no edition, no error.
        if (r.sqlState() != "3F000" && r.sqlState() != "42P01")
            *error = db.error();
        return std::nullopt;
    }
    if (r.rows() != 1)
        return std::nullopt;
    ServedEdition e;
    e.id = r.int64(0, 0);
    e.source.fileName = r.text(0, 1);
    e.source.size = r.int64(0, 2);
    e.source.modified = fromMillis(r, 0, 3);
    e.source.digest = r.text(0, 4).toLatin1();
    e.source.recordedAt = fromMillis(r, 0, 5);
    e.loadedBy = r.text(0, 6);
    e.source.residents = r.int64(0, 7);
    e.source.enterprises = r.int64(0, 8);
    e.source.personal = r.int64(0, 9);
    e.imageSha256 = r.text(0, 10).toLatin1();
    e.imageSize = r.int64(0, 11);
    return e;
}

qint64 copiedEdition(const QString &copyPath)
{
    if (!QFileInfo(copyPath).isFile())
        return 0;
    sqlite3 *db = nullptr;
    qint64 id = 0;
    if (sqlite3_open_v2(QFile::encodeName(copyPath).constData(), &db, SQLITE_OPEN_READONLY, nullptr)
        == SQLITE_OK) {
        Statement q(db, QStringLiteral("SELECT edition FROM korvana_served"));
        if (q.isValid() && q.step() == SQLITE_ROW)
            id = q.columnInt64(0);
    }
    sqlite3_close(db);
    return id;
}

QString seatCopyPath(const QString &service)
{
    // Letters, digits, '-' and '_' stand for themselves; anything else
    // (a '/', a '.', a space) is written as %XX, so no name leaves the folder.
    QString name;
    for (const char c : service.toUtf8()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '-' || c == '_';
        name += plain ? QString(QLatin1Char(c))
                      : QStringLiteral("%%1").arg(uchar(c), 2, 16, QLatin1Char('0')).toUpper();
    }
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/korvana/") + name + QStringLiteral(".db");
}

FetchResult fetchServedEdition(PgConnection &db, const QString &copyPath, const ImportProgress &progress)
{
    FetchResult result;
    const QString service = db.service();
    const auto fail = [&](const QString &message) {
        result.error = message;
        db.run(QStringLiteral("ROLLBACK"));
        return result;
    };
    const auto serverFail = [&] {
        return fail(QStringLiteral("Сервер справочника «%1»: %2").arg(service, db.error()));
    };
    const QFileInfo copy(copyPath);
    if (!QDir().mkpath(copy.absolutePath()))
        return fail(QStringLiteral("Не удаётся создать папку %1").arg(shown(copy.absolutePath())));
    // One snapshot: the edition and its pieces agree even if a new one is loaded meanwhile.
    if (!db.run(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")))
        return serverFail();
    QString why;
    std::optional<ServedEdition> served = servedEdition(db, &why);
    if (!served)
        return fail(why.isEmpty() ? QStringLiteral("На сервере справочника «%1» ещё нет издания").arg(service)
                                  : QStringLiteral("Сервер справочника «%1»: %2").arg(service, why));
    result.edition = *served;

    QTemporaryFile temp(copy.absoluteFilePath() + QStringLiteral(".fetch-XXXXXX"));
    if (!temp.open())
        return fail(QStringLiteral("Не удаётся создать файл в папке %1: %2")
                        .arg(shown(copy.absolutePath()), temp.errorString()));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 done = 0;
    for (int seq = 0; done < served->imageSize; ++seq) {
        const PgResult piece = db.exec(QStringLiteral("SELECT data FROM korvana.edition_chunk"
                                                      " WHERE edition = $1 AND seq = $2"),
                                       {served->id, qint64(seq)}, true);
        if (!piece.ok())
            return serverFail();
        if (piece.rows() != 1 || piece.bytes(0, 0).isEmpty())
            return fail(QStringLiteral("Издание %1 на сервере «%2» неполно").arg(served->id).arg(service));
        const QByteArray bytes = piece.bytes(0, 0);
        hash.addData(bytes);
        if (temp.write(bytes) != bytes.size())
            return fail(QStringLiteral("Не удаётся записать файл %1: %2").arg(shown(copyPath), temp.errorString()));
        done += bytes.size();
        if (progress && !progress(done, served->imageSize)) {
            result.cancelled = true;
            return fail(QStringLiteral("Получение справочника с сервера «%1» прервано").arg(service));
        }
    }
    db.run(QStringLiteral("COMMIT"));
    if (!temp.flush() || !temp.handle() || ::fsync(temp.handle()) != 0)
        return fail(QStringLiteral("Не удаётся записать файл %1: %2").arg(shown(copyPath), temp.errorString()));
    temp.close();
    if (done != served->imageSize || hash.result().toHex() != served->imageSha256)
        return fail(QStringLiteral("Издание %1 с сервера «%2» пришло повреждённым (не сходится SHA-256)")
                        .arg(served->id)
                        .arg(service));

    // The user's «Мой» entries move into the new copy; the old copy stays
    // locked until the new one has its name.
    DirectoryLock lock;
    if (copy.exists()) {
        switch (lock.acquire(copyPath, &why)) {
        case DirectoryLock::Status::Locked:
            // Another fetch of the same copy renamed its file over the path
            // meanwhile: that copy is the one to keep.
            if (lock.hasMoved())
                return fail(QStringLiteral("Файл %1 заменён другой программой; запустите Korvana снова")
                                .arg(shown(copyPath)));
            if (!carryPersonal(lock, copyPath, temp.fileName(), &why))
                return fail(QStringLiteral("Не удаётся записать файл %1: %2").arg(shown(copyPath), why));
            break;
        case DirectoryLock::Status::NotADatabase: break; // nothing in it to keep
        case DirectoryLock::Status::Failed: return fail(why);
        }
    }
    std::error_code ec;
    std::filesystem::rename(QFile::encodeName(temp.fileName()).constData(),
                            QFile::encodeName(copyPath).constData(), ec);
    if (ec)
        return fail(QStringLiteral("Не удаётся записать файл %1: %2")
                        .arg(shown(copyPath), QString::fromLocal8Bit(ec.message().c_str())));
    temp.setAutoRemove(false);
    lock.release();
    syncDirectory(copy.absolutePath());
    result.ok = true;
    return result;
}

} // namespace korvana
