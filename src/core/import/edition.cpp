#include "core/import/edition.h"

#include "core/store/directorykind.h"
#include "core/store/store.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sqlite3.h>

namespace korvana {

namespace {

// The program's own table beside the directory's: one row per role.
const QString kCreateTable = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS korvana_edition (role TEXT PRIMARY KEY, file_name TEXT, "
    "file_size INTEGER, file_modified TEXT, digest TEXT, recorded_at TEXT, residents INTEGER, "
    "enterprises INTEGER, personal INTEGER)");
const QString kImported = QStringLiteral("imported");
const QString kDeclined = QStringLiteral("declined");

QString timeText(const QDateTime &t) { return t.toUTC().toString(Qt::ISODateWithMs); }

QDateTime timeOf(const QVariant &v)
{
    return QDateTime::fromString(v.toString(), Qt::ISODateWithMs).toUTC();
}

bool writeEdition(Store &store, const QString &role, const Edition &e, QString *error)
{
    Statement *s = store.exec(kCreateTable, error)
        ? store.statement(QStringLiteral("INSERT OR REPLACE INTO korvana_edition VALUES "
                                         "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"))
        : nullptr;
    if (!s)
        return false;
    Statement::Use use(*s);
    s->bindText(1, role);
    s->bindText(2, e.fileName);
    s->bindInt64(3, e.size);
    s->bindText(4, timeText(e.modified));
    s->bindText(5, QString::fromLatin1(e.digest));
    s->bindText(6, timeText(e.recordedAt));
    s->bindInt64(7, e.residents);
    s->bindInt64(8, e.enterprises);
    s->bindInt64(9, e.personal);
    if (s->step() == SQLITE_DONE)
        return true;
    if (error)
        *error = store.lastError();
    return false;
}

} // namespace

std::optional<Edition> fileEdition(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    Edition e;
    e.fileName = info.fileName();
    e.size = info.size();
    e.modified = info.lastModified().toUTC();
    return e;
}

bool computeDigest(Edition &edition, const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return false;
    edition.digest = hash.result().toHex();
    return true;
}

bool sameContent(const Edition &recorded, Edition &file, const QString &path)
{
    if (recorded.size != file.size)
        return false;
    if (recorded.modified == file.modified)
        return true;
    if (recorded.digest.isEmpty() || (file.digest.isEmpty() && !computeDigest(file, path)))
        return false;
    return recorded.digest == file.digest;
}

std::optional<EditionRecords> readEditions(const QString &dbPath)
{
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(dbPath).constData(), &db, SQLITE_OPEN_READONLY,
                                   nullptr);
    std::optional<EditionRecords> out;
    if (rc == SQLITE_OK) {
        Statement table(db, QStringLiteral("SELECT count(*) FROM sqlite_master "
                                           "WHERE name = 'korvana_edition'"));
        if (table.step() == SQLITE_ROW)
            out.emplace();
        if (out && table.columnInt64(0) > 0) {
            Statement rows(db, QStringLiteral("SELECT role, file_name, file_size, file_modified, "
                                              "digest, recorded_at, residents, enterprises, "
                                              "personal FROM korvana_edition"));
            while (rows.step() == SQLITE_ROW) {
                Edition e;
                e.fileName = rows.column(1).toString();
                e.size = rows.columnInt64(2);
                e.modified = timeOf(rows.column(3));
                e.digest = rows.column(4).toString().toLatin1();
                e.recordedAt = timeOf(rows.column(5));
                e.residents = rows.columnInt64(6);
                e.enterprises = rows.columnInt64(7);
                e.personal = rows.columnInt64(8);
                const QString role = rows.column(0).toString();
                if (role == kImported)
                    out->imported = e;
                else if (role == kDeclined)
                    out->declined = e;
            }
        }
    }
    sqlite3_close(db);
    return out;
}

bool writeImportedEdition(Store &store, const Edition &edition, QString *error)
{
    return writeEdition(store, kImported, edition, error);
}

bool recordDeclinedEdition(const QString &mdbPath, const QString &dbPath, QString *error)
{
    std::optional<Edition> e = fileEdition(mdbPath);
    if (!e || !computeDigest(*e, mdbPath)) {
        if (error)
            *error = QStringLiteral("cannot read %1").arg(mdbPath);
        return false;
    }
    e->recordedAt = QDateTime::currentDateTimeUtc();
    std::unique_ptr<Store> store = Store::open(dbPath, nullptr, error);
    if (!store)
        return false;
    if (store->begin() && writeEdition(*store, kDeclined, *e, error) && store->commit())
        return true;
    if (error && error->isEmpty())
        *error = store->lastError();
    store->rollback();
    return false;
}

EditionOffer newEditionOffer(const QString &mdbPath, const QString &dbPath)
{
    std::optional<Edition> file = fileEdition(mdbPath);
    const QFileInfo db(dbPath);
    if (!file || !db.isFile())
        return {};
    const std::optional<EditionRecords> records = readEditions(dbPath);
    if (!records)
        return {};
    if (records->imported && sameContent(*records->imported, *file, mdbPath))
        return {};
    if (records->declined && sameContent(*records->declined, *file, mdbPath))
        return {};
    if (!records->imported && file->modified <= db.lastModified().toUTC())
        return {};
    return {true, file->modified.toLocalTime()};
}

// ---- DirectoryLock ----------------------------------------------------------

DirectoryLock::~DirectoryLock() { release(); }

void DirectoryLock::release()
{
    if (!m_db)
        return;
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(m_db);
    m_db = nullptr;
}

bool DirectoryLock::hasMoved() const
{
    int moved = 1;
    return !m_db || sqlite3_file_control(m_db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK || moved;
}

DirectoryLock::Status DirectoryLock::acquire(const QString &dbPath, QString *error)
{
    Store::guardReplacedFiles();
    release();
    m_personalCount = 0;
    m_personalFields.clear();
    const QString name = QFileInfo(dbPath).fileName();
    auto fail = [&](Status status, const QString &why) {
        *error = why;
        release();
        return status;
    };
    if (sqlite3_open_v2(QFile::encodeName(dbPath).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr)
        != SQLITE_OK)
        return fail(Status::Failed, QStringLiteral("Не удаётся открыть файл %1: %2")
                                        .arg(name, QString::fromUtf8(sqlite3_errmsg(m_db))));
    // A running Korvana holds the lock only while it writes one entry, but
    // may have to wait for readers to let it commit: some patience.
    sqlite3_busy_timeout(m_db, 10000);
    const int rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if ((rc & 0xff) == SQLITE_NOTADB)
        return fail(Status::NotADatabase, QStringLiteral("Файл %1 не является базой справочника").arg(name));
    if ((rc & 0xff) == SQLITE_BUSY)
        return fail(Status::Failed, QStringLiteral("Файл %1 занят другой программой: повторите позже").arg(name));
    if (rc != SQLITE_OK)
        return fail(Status::Failed, QStringLiteral("Не удаётся открыть файл %1: %2")
                                        .arg(name, QString::fromUtf8(sqlite3_errmsg(m_db))));
    {
        // A write-ahead log left beside a replaced file would be replayed into the new one.
        Statement mode(m_db, QStringLiteral("PRAGMA journal_mode"));
        if (mode.step() == SQLITE_ROW
            && mode.column(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0)
            return fail(Status::Failed,
                        QStringLiteral("Файл %1 ведёт журнал WAL: такой файл программа не заменяет").arg(name));
    }

    const TableInfo &note = tableInfo(DirectoryKind::Personal);
    QSet<QString> have;
    {
        Statement info(m_db, QStringLiteral("PRAGMA table_info(%1)").arg(note.table));
        while (info.step() == SQLITE_ROW)
            have.insert(info.column(1).toString().toLower());
    }
    if (have.isEmpty())
        return Status::Locked;
    for (const QString &field : note.fields)
        m_personalFields << have.contains(field.toLower());
    Statement count(m_db, QStringLiteral("SELECT count(*) FROM %1").arg(note.table));
    if (count.step() != SQLITE_ROW)
        return fail(Status::Failed, QStringLiteral("Не удаётся прочитать справочник «Мой» из файла %1: %2")
                                        .arg(name, QString::fromUtf8(sqlite3_errmsg(m_db))));
    m_personalCount = count.columnInt64(0);
    return Status::Locked;
}

} // namespace korvana
