#include "core/import/mdbimport.h"

#include "core/import/edition.h"
#include "core/import/replacement.h"
#include "core/store/directorykind.h"
#include "core/store/store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
// An update that keeps finding its file replaced by others gives up.
constexpr int kMaxRestarts = 8;

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
            && lockTarget() && (m_result.unchanged || copy());
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

    // Locks a file that is to be replaced and counts its personal directory,
    // which an update carries across and a replacement counts as dropped.
    bool lockTarget()
    {
        m_target = DirectoryReplacement::targetOf(m_dbPath);
        if (m_mode == Mode::Create || !QFileInfo::exists(m_target))
            return true;
        bool restarted = false;
        for (int attempt = 0;; ++attempt) {
            QString why;
            switch (m_lock.acquire(m_target, &why)) {
            case DirectoryLock::Status::Locked: break;
            case DirectoryLock::Status::NotADatabase:
                // Nothing in it to keep: a replacement may go ahead, an update may not.
                if (m_mode == Mode::Update)
                    return fail(why);
                return true;
            case DirectoryLock::Status::Failed: return fail(why);
            }
            // Another update renamed its new file over this path while this
            // one waited for the lock: what is locked is no one's file any
            // more. Start again on the file that is there now.
            if (!m_lock.hasMoved())
                break;
            m_lock.release();
            restarted = true;
            if (attempt == kMaxRestarts)
                return fail(QStringLiteral("Файл %1 всё время заменяют другие программы: повторите позже")
                                .arg(QDir::toNativeSeparators(m_dbPath)));
            m_target = DirectoryReplacement::targetOf(m_dbPath);
        }
        removeStaleBuilds();
        const qint64 entries = m_lock.personalCount();
        const QString db = QDir::toNativeSeparators(m_dbPath);
        if (m_mode != Mode::Update)
            m_result.personalDropped = entries;
        // The update that went first may have taken this very edition.
        if (m_mode == Mode::Update && restarted && editionTaken()) {
            m_result.unchanged = true;
            m_result.personalKept = entries;
            return true;
        }
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

    bool editionTaken()
    {
        const std::optional<EditionRecords> records = readEditions(m_target);
        return records && records->imported && sameContent(*records->imported, m_edition, m_mdbPath);
    }

    // A build killed before its rename leaves its file beside the target.
    // Every build that replaces the target holds its lock, as this one now
    // does, so such files belong to no running build.
    void removeStaleBuilds()
    {
        const QFileInfo dst(m_target);
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
        // The new file is made beside the target so that the final rename
        // stays within one file system.
        DirectoryReplacement replacement;
        QString why;
        if (!replacement.prepare(m_dbPath, &why))
            return fail(why);
        const QString db = QDir::toNativeSeparators(m_dbPath);
        std::unique_ptr<Store> store = Store::create(replacement.newFile(), &why);
        if (!store)
            return fail(QStringLiteral("Не удаётся создать файл %1: %2").arg(db, why));
        if (m_mode == Mode::Update && !attachKept(*store, &why))
            return fail(QStringLiteral("Не удаётся прочитать справочник «Мой» из файла %1: %2").arg(db, why));
        if (!store->begin())
            return fail(QStringLiteral("Не удаётся создать файл %1: %2").arg(db, store->lastError()));
        if (m_mode == Mode::Update && !copyPersonal(*store, &why))
            return fail(QStringLiteral("Не удаётся записать файл %1: %2").arg(db, why));
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
            || (m_mode == Mode::Update && !store->exec(QStringLiteral("DETACH DATABASE kept"), &why))
            || !store->createIndexes(&why))
            return fail(QStringLiteral("Не удаётся записать файл %1: %2")
                            .arg(db, why.isEmpty() ? store->lastError() : why));
        store.reset();

        // Only a complete file takes the target's place, while the old one's
        // lock is held and the path still names it.
        if (m_mode != Mode::Create && QFileInfo::exists(m_target) && m_lock.isHeld() && m_lock.hasMoved())
            return fail(QStringLiteral("Файл %1 заменён другой программой во время обновления: повторите").arg(db));
        return replacement.install(&why) || fail(why);
    }

    // The locked file, read by the new one's connection: the personal
    // directory is copied by SQL, so every value keeps its type and bytes.
    bool attachKept(Store &store, QString *why)
    {
        Statement attach(store.handle(), QStringLiteral("ATTACH DATABASE ?1 AS kept"));
        attach.bindText(1, m_target);
        int moved = 1;
        if (attach.step() != SQLITE_DONE
            || sqlite3_file_control(store.handle(), "kept", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK) {
            *why = store.lastError();
            return false;
        }
        if (moved) {
            *why = QStringLiteral("файл заменён другой программой");
            return false;
        }
        return true;
    }

    // The user's personal directory as it is, each row under its own rowid;
    // fields a file made by hand lacks come as NULL, as the store would add them.
    bool copyPersonal(Store &store, QString *why)
    {
        const TableInfo &note = tableInfo(DirectoryKind::Personal);
        const QList<bool> &have = m_lock.personalFields();
        if (!have.isEmpty()) {
            QStringList columns;
            for (int i = 0; i < note.fields.size(); ++i)
                columns << (have.at(i) ? note.fields.at(i) : QStringLiteral("NULL"));
            if (!store.exec(QStringLiteral("INSERT INTO main.%1 (rowid, %2) SELECT rowid, %3 FROM kept.%1 ORDER BY rowid")
                                .arg(note.table, note.fields.join(QStringLiteral(", ")),
                                     columns.join(QStringLiteral(", "))),
                            why))
                return false;
            m_result.personalKept = sqlite3_changes64(store.handle());
        }
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
    QString m_target;      // the file replaced: m_dbPath, or the file a link there names
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
