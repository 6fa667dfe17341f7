#include "core/import/mdbimport.h"

#include "core/app/sidefiles.h"
#include "core/import/edition.h"
#include "core/store/directorykind.h"
#include "core/store/store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <filesystem>
#include <memory>
#include <vector>

// mdbtools.h includes <glib.h> inside extern "C", which C++ rejects (glib's
// C++ templates); including it first makes the inner include a no-op.
#include <glib.h>
#include <mdbtools.h>
#include <sqlite3.h>

namespace korvana {

namespace {

// Large enough for any Text(255) in UTF-8 and for a memo of a directory's size.
constexpr size_t kBindSize = 64 * 1024;
// Row offsets in a data page carry flags in their top bits.
constexpr int kRowOffsetMask = 0x1fff;
// Report progress this often, so that a GUI stays responsive without slowing the copy.
constexpr qint64 kProgressStep = 64;

const DirectoryKind kKinds[] = {DirectoryKind::Residents, DirectoryKind::Enterprises,
                                DirectoryKind::Personal};

QString directoryName(DirectoryKind kind)
{
    switch (kind) {
    case DirectoryKind::Residents: return QStringLiteral("«Население»");
    case DirectoryKind::Enterprises: return QStringLiteral("«Предприятия»");
    case DirectoryKind::Personal: break;
    }
    return QStringLiteral("«Мой»");
}

struct MdbCloser {
    void operator()(MdbHandle *mdb) const { mdb_close(mdb); }
};
struct TableDefFree {
    void operator()(MdbTableDef *table) const { mdb_free_tabledef(table); }
};
using MdbPtr = std::unique_ptr<MdbHandle, MdbCloser>;
using TableDefPtr = std::unique_ptr<MdbTableDef, TableDefFree>;

// Sets an environment variable for the life of the object, then puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

// Checks the Jet header before libmdb sees the file, so that a file of another
// kind gets a clear message instead of libmdb's output on stderr.
bool checkAccessHeader(const QString &path, const QString &shown, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Не удаётся открыть файл %1: %2").arg(shown, file.errorString());
        return false;
    }
    const QByteArray head = file.read(0x20);
    const bool magic = head.size() >= 0x15 && head.startsWith(QByteArray("\x00\x01\x00\x00", 4))
        && (head.mid(4, 16) == QByteArray("Standard Jet DB\0", 16)
            || head.mid(4, 16) == QByteArray("Standard ACE DB\0", 16));
    if (!magic) {
        *error = QStringLiteral("Файл %1 не является базой данных Access").arg(shown);
        return false;
    }
    // Jet3 files have 2 KiB pages, later versions 4 KiB; a file is always whole pages.
    const qint64 pageSize = head.at(0x14) == 0 ? 2048 : 4096;
    if (file.size() < 3 * pageSize || file.size() % pageSize != 0) {
        *error = QStringLiteral("Файл %1 повреждён: он обрезан (%2 байт)")
                     .arg(shown)
                     .arg(file.size());
        return false;
    }
    return true;
}

MdbCatalogEntry *findTable(MdbHandle *mdb, const QString &name)
{
    for (guint i = 0; i < mdb->num_catalog; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (entry && entry->object_type == MDB_TABLE
            && QString::fromUtf8(entry->object_name).compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return nullptr;
}

struct SourceTable {
    DirectoryKind kind;
    TableDefPtr def;
    qint64 declaredRows = 0;
};

// Removes the half-written file unless the import got as far as renaming it.
class TempFileGuard {
public:
    explicit TempFileGuard(QString path) : m_path(std::move(path)) {}
    ~TempFileGuard()
    {
        if (m_path.isEmpty())
            return;
        QFile::remove(m_path);
        QFile::remove(m_path + QStringLiteral("-journal"));
    }
    void release() { m_path.clear(); }

private:
    QString m_path;
};

// An update is a replacement that carries the personal directory across.
enum class Mode { Create, ReplaceUnlessPersonal, Replace, Update };

class Importer {
public:
    Importer(const QString &mdbPath, const QString &dbPath, const ImportProgress &progress, Mode mode)
        : m_mdbPath(mdbPath), m_dbPath(dbPath), m_progress(progress), m_mode(mode),
          m_shown(QDir::toNativeSeparators(mdbPath))
    {
    }

    ImportResult run()
    {
        m_result.ok = checkPaths() && describeSource() && openSource() && readTables()
            && lockTarget() && copy();
        m_lock.release();
        if (!m_result.ok)
            m_result.warnings.clear(); // the error is all the user needs to read
        return m_result;
    }

private:
    bool fail(const QString &message)
    {
        m_result.error = message;
        return false;
    }

    bool checkPaths()
    {
        const QFileInfo src(m_mdbPath);
        const QFileInfo dst(m_dbPath);
        if (!src.exists())
            return fail(QStringLiteral("Файл %1 не найден").arg(m_shown));
        if (!src.isFile())
            return fail(QStringLiteral("%1 не является файлом").arg(m_shown));
        if (m_mode == Mode::Update && !dst.exists())
            return fail(QStringLiteral("Файл %1 не найден").arg(QDir::toNativeSeparators(m_dbPath)));
        if (dst.exists()) {
            if (dst.canonicalFilePath() == src.canonicalFilePath())
                return fail(QStringLiteral("Справочник нельзя записать поверх файла %1").arg(m_shown));
            if (dst.isDir())
                return fail(QStringLiteral("%1 является папкой")
                                .arg(QDir::toNativeSeparators(m_dbPath)));
            if (m_mode == Mode::Create)
                return fail(QStringLiteral("Файл %1 уже существует")
                                .arg(QDir::toNativeSeparators(m_dbPath)));
        }
        return checkAccessHeader(m_mdbPath, m_shown, &m_result.error);
    }

    bool describeSource()
    {
        std::optional<Edition> e = fileEdition(m_mdbPath);
        if (!e || !computeDigest(*e, m_mdbPath))
            return fail(QStringLiteral("Не удаётся прочитать файл %1").arg(m_shown));
        m_edition = *e;
        return true;
    }

    // Locks a file that is to be replaced and reads its personal directory,
    // which an update carries across and a replacement counts as dropped.
    bool lockTarget()
    {
        if (m_mode == Mode::Create || !QFileInfo::exists(m_dbPath))
            return true;
        QString why;
        switch (m_lock.acquire(m_dbPath, &why)) {
        case DirectoryLock::Status::Locked: break;
        case DirectoryLock::Status::NotADatabase:
            // Nothing in it to keep: a replacement may go ahead, an update may not.
            if (m_mode == Mode::Update)
                return fail(why);
            return true;
        case DirectoryLock::Status::Failed: return fail(why);
        }
        removeStaleBuilds();
        const qint64 entries = m_lock.personal().size();
        const QString db = QDir::toNativeSeparators(m_dbPath);
        if (m_mode != Mode::Update)
            m_result.personalDropped = entries;
        if (m_mode == Mode::ReplaceUnlessPersonal && entries > 0)
            return fail(QStringLiteral("В файле %1 есть записи справочника «Мой» (%2): файл не заменён")
                            .arg(db)
                            .arg(entries));
        if (m_mode == Mode::Replace && entries > 0) {
            m_result.warnings << QStringLiteral("Записи справочника «Мой» из файла %1 удалены: %2")
                                     .arg(db)
                                     .arg(entries);
        }
        return true;
    }

    // A build killed before its rename leaves its file beside the target.
    // Every build that replaces the target holds its lock, as this one now
    // does, so such files belong to no running build.
    void removeStaleBuilds()
    {
        const QFileInfo dst(m_dbPath);
        QDir dir = dst.absoluteDir();
        for (const QString &name : dir.entryList({dst.fileName() + QStringLiteral(".import-*")},
                                                 QDir::Files | QDir::Hidden))
            dir.remove(name);
    }

    bool openSource()
    {
        // Read-only: the import never changes the Access file.
        m_mdb.reset(mdb_open(QFile::encodeName(m_mdbPath).constData(), MDB_NOFLAGS));
        if (!m_mdb)
            return fail(QStringLiteral("Файл %1 не удаётся прочитать как базу данных Access")
                            .arg(m_shown));
        // Text must come out as UTF-8 whatever MDB_ICONV says. Jet3 text is
        // single bytes in a code page; the town's files are Windows-1251 even
        // where the header claims 1252, so 1251 is forced for every Jet3 file.
        {
            ScopedEnv utf8("MDB_ICONV", "UTF-8");
            ScopedEnv jet3("MDB_JET3_CHARSET", "CP1251");
            mdb_iconv_close(m_mdb.get());
            mdb_iconv_init(m_mdb.get());
        }
        mdb_set_bind_size(m_mdb.get(), kBindSize);
        if (!mdb_read_catalog(m_mdb.get(), MDB_TABLE))
            return fail(QStringLiteral("Файл %1 повреждён: не удаётся прочитать список таблиц")
                            .arg(m_shown));
        return true;
    }

    bool readTables()
    {
        QList<DirectoryKind> missing;
        if (m_mode == Mode::Update) {
            // An update must not empty a public directory; its own Note may be missing.
            for (DirectoryKind kind : {DirectoryKind::Residents, DirectoryKind::Enterprises}) {
                if (!findTable(m_mdb.get(), tableInfo(kind).table))
                    return fail(QStringLiteral("В файле %1 нет таблицы %2: справочник не обновлён")
                                    .arg(m_shown, tableInfo(kind).table));
            }
        }
        for (DirectoryKind kind : kKinds) {
            const QString name = tableInfo(kind).table;
            MdbCatalogEntry *entry = findTable(m_mdb.get(), name);
            if (!entry) {
                missing << kind;
                continue;
            }
            TableDefPtr def(mdb_read_table(entry));
            if (!def || !mdb_read_columns(def.get()) || def->num_cols > MDB_MAX_COLS)
                return fail(QStringLiteral("Файл %1 повреждён: не удаётся прочитать таблицу %2")
                                .arg(m_shown, name));
            const qint64 rows = def->num_rows;
            m_tables.push_back({kind, std::move(def), rows});
            m_total += rows;
        }
        if (m_tables.empty())
            return fail(QStringLiteral("В файле %1 нет таблиц справочника (NASELEN, PREDPR, Note)")
                            .arg(m_shown));
        // An update keeps the personal directory whatever the source holds.
        if (m_mode == Mode::Update)
            return true;
        for (DirectoryKind kind : missing)
            m_result.warnings << QStringLiteral("В файле %1 нет таблицы %2: справочник %3 будет пуст")
                                     .arg(m_shown, tableInfo(kind).table, directoryName(kind));
        return true;
    }

    bool reportProgress()
    {
        if (!m_progress || m_progress(m_done, std::max(m_total, m_done)))
            return true;
        m_result.cancelled = true;
        return fail(QStringLiteral("Перенос справочника из файла %1 прерван").arg(m_shown));
    }

    bool copy()
    {
        const QFileInfo dst(m_dbPath);
        // The new file is made beside the target so that the final rename stays
        // within one file system; it gets the usual permissions of a new file.
        QString tmpPath;
        QFile reserve;
        for (int attempt = 0; attempt < 100 && tmpPath.isEmpty(); ++attempt) {
            reserve.setFileName(dst.absolutePath() + QLatin1Char('/') + dst.fileName()
                                + QStringLiteral(".import-%1")
                                      .arg(QRandomGenerator::global()->generate(), 8, 16,
                                           QLatin1Char('0')));
            if (reserve.open(QIODevice::WriteOnly | QIODevice::NewOnly))
                tmpPath = reserve.fileName();
            else if (!reserve.exists())
                break; // not a name clash: the folder cannot be written
        }
        if (tmpPath.isEmpty())
            return fail(QStringLiteral("Не удаётся создать файл в папке %1: %2")
                            .arg(QDir::toNativeSeparators(dst.absolutePath()),
                                 reserve.errorString()));
        reserve.close();
        TempFileGuard guard(tmpPath);

        QString why;
        std::unique_ptr<Store> store = Store::create(tmpPath, &why);
        if (!store || !store->begin())
            return fail(QStringLiteral("Не удаётся создать файл %1: %2")
                            .arg(QDir::toNativeSeparators(m_dbPath), store ? store->lastError() : why));
        if (m_mode == Mode::Update && !copyPersonal(*store, &why))
            return fail(QStringLiteral("Не удаётся записать файл %1: %2")
                            .arg(QDir::toNativeSeparators(m_dbPath), why));
        if (!reportProgress())
            return false;
        for (SourceTable &table : m_tables) {
            if (!copyTable(table, *store))
                return false;
        }
        m_edition.recordedAt = QDateTime::currentDateTimeUtc();
        m_edition.residents = m_result.residents;
        m_edition.enterprises = m_result.enterprises;
        m_edition.personal = m_result.personal;
        if (!writeImportedEdition(*store, m_edition, &why) || !store->commit()
            || !store->createIndexes(&why))
            return fail(QStringLiteral("Не удаётся записать файл %1: %2")
                            .arg(QDir::toNativeSeparators(m_dbPath),
                                 why.isEmpty() ? store->lastError() : why));
        store.reset();

        // Only a complete file takes the target's name, and the permissions
        // of the file it replaces.
        if (m_mode != Mode::Create) {
            if (QFileInfo::exists(m_dbPath))
                QFile::setPermissions(tmpPath, QFileInfo(m_dbPath).permissions());
            std::error_code ec;
            std::filesystem::rename(QFile::encodeName(tmpPath).constData(),
                                    QFile::encodeName(m_dbPath).constData(), ec);
            if (ec)
                return fail(QStringLiteral("Не удаётся записать файл %1: %2")
                                .arg(QDir::toNativeSeparators(m_dbPath),
                                     QString::fromLocal8Bit(ec.message().c_str())));
        } else if (!QFile::rename(tmpPath, m_dbPath)) {
            return fail(QFileInfo::exists(m_dbPath)
                            ? QStringLiteral("Файл %1 уже существует")
                                  .arg(QDir::toNativeSeparators(m_dbPath))
                            : QStringLiteral("Не удаётся записать файл %1")
                                  .arg(QDir::toNativeSeparators(m_dbPath)));
        }
        guard.release();
        syncDirectory(dst.absolutePath());
        return true;
    }

    // The user's personal directory as it is, each row under its own rowid.
    bool copyPersonal(Store &store, QString *why)
    {
        const TableInfo &note = tableInfo(DirectoryKind::Personal);
        QStringList params;
        for (int i = 0; i <= note.fields.size(); ++i)
            params << QStringLiteral("?%1").arg(i + 1);
        Statement *insert = store.statement(QStringLiteral("INSERT INTO %1 (rowid, %2) VALUES (%3)")
                                                .arg(note.table, note.fields.join(QStringLiteral(", ")),
                                                     params.join(QStringLiteral(", "))));
        const auto failed = [&] {
            *why = store.lastError();
            return false;
        };
        if (!insert)
            return failed();
        for (const DirectoryLock::PersonalRow &row : m_lock.personal()) {
            Statement::Use use(*insert);
            insert->bindInt64(1, row.rowid);
            for (int i = 0; i < row.values.size(); ++i)
                insert->bind(i + 2, row.values.at(i));
            if (insert->step() != SQLITE_DONE)
                return failed();
        }
        m_result.personalKept = m_lock.personal().size();
        return store.refreshShadows(DirectoryKind::Personal, why);
    }

    // Stores one source row; in an update, a personal row only when the
    // personal directory does not hold it yet (NULL and "" kept apart).
    bool storeRow(Store &store, DirectoryKind kind, const QVariantList &values)
    {
        if (m_mode != Mode::Update || kind != DirectoryKind::Personal)
            return store.insertRow(kind, values);
        const TableInfo &note = tableInfo(kind);
        QStringList same;
        for (int i = 0; i < note.fields.size(); ++i)
            same << QStringLiteral("%1 IS ?%2").arg(note.fields.at(i)).arg(i + 1);
        Statement *held = store.statement(QStringLiteral("SELECT 1 FROM %1 WHERE %2 LIMIT 1")
                                              .arg(note.table, same.join(QStringLiteral(" AND "))));
        if (!held)
            return false;
        Statement::Use use(*held);
        for (int i = 0; i < values.size(); ++i)
            held->bind(i + 1, values.at(i));
        const int rc = held->step();
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE || !store.insertRow(kind, values))
            return false;
        ++m_result.personalAdded;
        return true;
    }

    bool copyTable(SourceTable &table, Store &store)
    {
        MdbHandle *mdb = m_mdb.get();
        MdbTableDef *def = table.def.get();
        const TableInfo &info = tableInfo(table.kind);
        const int fieldCount = int(info.fields.size());

        // Bind each directory field to the source column of the same name.
        std::vector<int> sourceColumn(fieldCount, -1);
        std::vector<std::vector<char>> buffers(fieldCount);
        std::vector<int> lengths(fieldCount, 0);
        for (int f = 0; f < fieldCount; ++f) {
            for (guint c = 0; c < def->num_cols; ++c) {
                auto *col = static_cast<MdbColumn *>(g_ptr_array_index(def->columns, c));
                if (QString::fromUtf8(col->name).compare(info.fields[f], Qt::CaseInsensitive) == 0) {
                    sourceColumn[f] = int(c);
                    break;
                }
            }
            if (sourceColumn[f] < 0) {
                m_result.warnings << QStringLiteral("В таблице %1 файла %2 нет поля %3: оно будет пустым")
                                         .arg(info.table, m_shown, info.fields[f]);
                continue;
            }
            buffers[f].assign(kBindSize, '\0');
            if (mdb_bind_column(def, sourceColumn[f] + 1, buffers[f].data(), &lengths[f]) == -1)
                return fail(QStringLiteral("Файл %1 повреждён: не удаётся прочитать поле %2 таблицы %3")
                                .arg(m_shown, info.fields[f], info.table));
        }

        mdb_rewind_table(def);
        qint64 rows = 0;
        bool truncated = false;
        MdbField fields[MDB_MAX_COLS];
        while (mdb_fetch_row(def)) {
            // Bound values give length 0 for NULL and "" alike; the row's null
            // mask tells them apart, so the row just fetched is cracked again.
            int rowStart = 0;
            size_t rowSize = 0;
            if (def->cur_row < 1 || mdb_find_row(mdb, int(def->cur_row) - 1, &rowStart, &rowSize) != 0
                || mdb_crack_row(def, rowStart & kRowOffsetMask, rowSize, fields) < 0)
                return fail(QStringLiteral("Файл %1 повреждён: не удаётся прочитать строку %2 таблицы %3")
                                .arg(m_shown)
                                .arg(rows + 1)
                                .arg(info.table));
            std::vector<bool> isNull(def->num_cols, true);
            for (guint c = 0; c < def->num_cols; ++c) {
                const int colnum = fields[c].colnum;
                if (colnum >= 0 && guint(colnum) < def->num_cols)
                    isNull[colnum] = fields[c].is_null;
            }

            QVariantList values;
            values.reserve(fieldCount);
            for (int f = 0; f < fieldCount; ++f) {
                if (sourceColumn[f] < 0 || isNull[sourceColumn[f]]) {
                    values << QVariant();
                    continue;
                }
                const int length = std::clamp(lengths[f], 0, int(kBindSize) - 1);
                truncated = truncated || length >= int(kBindSize) - 1;
                values << QString::fromUtf8(buffers[f].data(), length);
            }
            if (!storeRow(store, table.kind, values))
                return fail(QStringLiteral("Не удаётся записать файл %1: %2")
                                .arg(QDir::toNativeSeparators(m_dbPath), store.lastError()));
            ++rows;
            ++m_done;
            if (m_done % kProgressStep == 0 && !reportProgress())
                return false;
        }

        // libmdb ends the scan quietly at a page it cannot read, so a short
        // count is the only sign of a damaged or truncated file.
        if (rows < table.declaredRows)
            return fail(QStringLiteral("Файл %1 повреждён: из таблицы %2 прочитано %3 строк из %4")
                            .arg(m_shown, info.table)
                            .arg(rows)
                            .arg(table.declaredRows));
        if (rows == 0)
            m_result.warnings << QStringLiteral("Таблица %1 в файле %2 пуста: справочник %3 будет пуст")
                                     .arg(info.table, m_shown, directoryName(table.kind));
        if (truncated)
            m_result.warnings << QStringLiteral("В таблице %1 файла %2 есть значения длиннее %3 байт: они обрезаны")
                                     .arg(info.table, m_shown)
                                     .arg(kBindSize - 1);
        switch (table.kind) {
        case DirectoryKind::Residents: m_result.residents = rows; break;
        case DirectoryKind::Enterprises: m_result.enterprises = rows; break;
        case DirectoryKind::Personal: m_result.personal = rows; break;
        }
        return reportProgress();
    }

    const QString m_mdbPath;
    const QString m_dbPath;
    const ImportProgress &m_progress;
    const Mode m_mode;
    const QString m_shown; // the Access file's name as messages show it
    ImportResult m_result;
    Edition m_edition;
    DirectoryLock m_lock;
    MdbPtr m_mdb;
    std::vector<SourceTable> m_tables;
    qint64 m_total = 0;
    qint64 m_done = 0;
};

} // namespace

ImportResult importAccessFile(const QString &mdbPath, const QString &dbPath,
                              const ImportProgress &progress, ExistingDirectory existing)
{
    const Mode mode = existing == ExistingDirectory::Refuse ? Mode::Create
        : existing == ExistingDirectory::Replace            ? Mode::Replace
                                                            : Mode::ReplaceUnlessPersonal;
    return Importer(mdbPath, dbPath, progress, mode).run();
}

ImportResult updateFromAccessFile(const QString &mdbPath, const QString &dbPath,
                                  const ImportProgress &progress)
{
    return Importer(mdbPath, dbPath, progress, Mode::Update).run();
}

} // namespace korvana
