#include "core/store/store.h"

#include "core/store/textfold.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <sqlite3.h>

#include <cstring>
#include <mutex>
#include <string_view>

#include <sys/stat.h>

namespace korvana {

namespace {

constexpr int kFoldVersion = 1;

const DirectoryKind kAllKinds[] = {DirectoryKind::Residents, DirectoryKind::Enterprises,
                                   DirectoryKind::Personal};

QString fromUtf8(const unsigned char *text, int bytes)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(text), bytes);
}

void kfoldFunction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    ++*static_cast<qint64 *>(sqlite3_user_data(ctx));
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const unsigned char *text = sqlite3_value_text(argv[0]);
    const int bytes = sqlite3_value_bytes(argv[0]);
    // Every value of a table passes here when its search columns are filled.
    thread_local std::string folded;
    folded.clear();
    if (!foldUtf8({reinterpret_cast<const char *>(text), size_t(bytes)}, folded))
        folded = foldText(fromUtf8(text, bytes)).toStdString();
    sqlite3_result_text(ctx, folded.data(), int(folded.size()), SQLITE_TRANSIENT);
}

// The text of a value up to its first NUL, as GLOB reads it.
bool textOf(sqlite3_value *v, const char **text, size_t *bytes)
{
    if (sqlite3_value_type(v) == SQLITE_NULL)
        return false;
    *text = reinterpret_cast<const char *>(sqlite3_value_text(v));
    *bytes = *text ? strnlen(*text, size_t(sqlite3_value_bytes(v))) : 0;
    return *text != nullptr;
}

// kcontains(value, part): value GLOB '*' || part || '*' for a part without
// wildcards. A scan for a pattern that starts with "*" tests every row, and
// a byte search costs less than GLOB's character-by-character match.
void kcontainsFunction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    const char *value, *part;
    size_t valueBytes, partBytes;
    if (!textOf(argv[0], &value, &valueBytes) || !textOf(argv[1], &part, &partBytes))
        return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, std::string_view(value, valueBytes).find(std::string_view(part, partBytes))
                                 != std::string_view::npos);
}

// kafterfirst(value, part): value GLOB '?' || part || '*' for a part without
// wildcards; the first character is stepped over as GLOB reads UTF-8.
void kafterfirstFunction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    const char *value, *part;
    size_t valueBytes, partBytes;
    if (!textOf(argv[0], &value, &valueBytes) || !textOf(argv[1], &part, &partBytes))
        return sqlite3_result_null(ctx);
    if (valueBytes == 0)
        return sqlite3_result_int(ctx, 0);
    size_t i = 1;
    if (static_cast<unsigned char>(value[0]) >= 0xc0) {
        while (i < valueBytes && (static_cast<unsigned char>(value[i]) & 0xc0) == 0x80)
            ++i;
    }
    sqlite3_result_int(ctx, valueBytes - i >= partBytes && memcmp(value + i, part, partBytes) == 0);
}

// One counter per table, moved by triggers at every row written by anyone
// (Korvana, korvana-import, the sqlite3 shell), so that a reader that sees
// the file change can tell which table did: a personal entry written in
// another window does not make the public tables' images stale.
const QString kCountersTable = QStringLiteral("korvana_changes");

QStringList changeCounterStatements()
{
    // Three rows: no index (the files' index count is what tools expect).
    QStringList out{QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (tbl TEXT NOT NULL, n INTEGER NOT NULL)")
                        .arg(kCountersTable)};
    for (DirectoryKind kind : kAllKinds) {
        const QString table = tableInfo(kind).table;
        out << QStringLiteral("INSERT INTO %1 SELECT '%2', 0 WHERE NOT EXISTS (SELECT 1 FROM %1 WHERE tbl = '%2')")
                   .arg(kCountersTable, table);
        for (const char *op : {"INSERT", "UPDATE", "DELETE"})
            out << QStringLiteral("CREATE TRIGGER IF NOT EXISTS korvana_%1_%2 AFTER %3 ON %1 "
                                  "BEGIN UPDATE %4 SET n = n + 1 WHERE tbl = '%1'; END")
                       .arg(table, QString::fromLatin1(op).toLower(), QLatin1String(op), kCountersTable);
    }
    return out;
}

bool hasTrimmedShadow(const QString &field)
{
    return field.compare(QLatin1String("Dom"), Qt::CaseInsensitive) == 0
        || field.compare(QLatin1String("Kvart"), Qt::CaseInsensitive) == 0;
}

QString trimmedShadow(const QString &field) { return QStringLiteral("kt_") + field.toLower(); }

// Every shadow column of a table with the SQL expression that fills it from `arg(field)`.
QList<QPair<QString, QString>> shadowExpressions(DirectoryKind kind,
                                                 const std::function<QString(int)> &arg)
{
    QList<QPair<QString, QString>> out;
    const QStringList &fields = tableInfo(kind).fields;
    for (int i = 0; i < fields.size(); ++i) {
        out.append({Store::shadowColumn(fields[i]), QStringLiteral("kfold(%1)").arg(arg(i))});
        if (hasTrimmedShadow(fields[i]))
            out.append({trimmedShadow(fields[i]), QStringLiteral("kfold(trim(%1))").arg(arg(i))});
    }
    return out;
}

// The INSERT text of a table; built once, as bulk loads call insertRow per row.
const QString &insertSql(DirectoryKind kind)
{
    static const auto texts = [] {
        QHash<int, QString> out;
        for (DirectoryKind k : kAllKinds) {
            const TableInfo &t = tableInfo(k);
            QStringList cols = t.fields;
            QStringList params;
            for (int i = 0; i < t.fields.size(); ++i)
                params << QStringLiteral("?%1").arg(i + 1);
            for (const auto &[column, expr] :
                 shadowExpressions(k, [](int i) { return QStringLiteral("?%1").arg(i + 1); })) {
                cols << column;
                params << expr;
            }
            out.insert(int(k), QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                   .arg(t.table, cols.join(QStringLiteral(", ")),
                                        params.join(QStringLiteral(", "))));
        }
        return out;
    }();
    return *texts.find(int(kind));
}

} // namespace

// ---- Files renamed over ----------------------------------------------------

namespace {

// The default file layer with one change. A connection still reading a file
// that a new edition was renamed over finds, at the shared path, the
// journal of a writer of the new file; SQLite would take it for a hot
// journal of its own file (nobody holds that file's write lock), play it
// into the old file and delete it from under the writer. A moved file is
// therefore reported as write-locked, so its journal is left alone. The
// old file itself is never written again (SQLite refuses writes to a moved
// file; an update locked it, rolling back any journal of its own, before
// replacing it).
struct GuardedFile {
    sqlite3_file base;
};
constexpr int kInnerOffset = (sizeof(GuardedFile) + 7) / 8 * 8;
sqlite3_vfs *g_plainVfs = nullptr;
sqlite3_vfs g_guardedVfs;
sqlite3_io_methods g_guardedMethods;

sqlite3_file *inner(sqlite3_file *f) { return reinterpret_cast<sqlite3_file *>(reinterpret_cast<char *>(f) + kInnerOffset); }

int guardedCheckReservedLock(sqlite3_file *f, int *locked)
{
    sqlite3_file *in = inner(f);
    const int rc = in->pMethods->xCheckReservedLock(in, locked);
    int moved = 0;
    if (rc == SQLITE_OK && !*locked && in->pMethods->xFileControl(in, SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved)
        *locked = 1;
    return rc;
}

int guardedOpen(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *f, int flags, int *outFlags)
{
    sqlite3_file *in = inner(f);
    in->pMethods = nullptr;
    const int rc = g_plainVfs->xOpen(g_plainVfs, name, in, flags, outFlags);
    f->pMethods = in->pMethods ? &g_guardedMethods : nullptr;
    return rc;
}

void installGuardedVfs()
{
    g_plainVfs = sqlite3_vfs_find(nullptr);
    if (!g_plainVfs)
        return;
    g_guardedVfs = *g_plainVfs;
    g_guardedVfs.szOsFile = kInnerOffset + g_plainVfs->szOsFile;
    g_guardedVfs.zName = "korvana";
    g_guardedVfs.pNext = nullptr;
    g_guardedVfs.xOpen = guardedOpen;
    auto &m = g_guardedMethods;
    m.iVersion = 3;
    m.xClose = [](sqlite3_file *f) { return inner(f)->pMethods->xClose(inner(f)); };
    m.xRead = [](sqlite3_file *f, void *p, int n, sqlite3_int64 o) { return inner(f)->pMethods->xRead(inner(f), p, n, o); };
    m.xWrite = [](sqlite3_file *f, const void *p, int n, sqlite3_int64 o) { return inner(f)->pMethods->xWrite(inner(f), p, n, o); };
    m.xTruncate = [](sqlite3_file *f, sqlite3_int64 n) { return inner(f)->pMethods->xTruncate(inner(f), n); };
    m.xSync = [](sqlite3_file *f, int flags) { return inner(f)->pMethods->xSync(inner(f), flags); };
    m.xFileSize = [](sqlite3_file *f, sqlite3_int64 *n) { return inner(f)->pMethods->xFileSize(inner(f), n); };
    m.xLock = [](sqlite3_file *f, int l) { return inner(f)->pMethods->xLock(inner(f), l); };
    m.xUnlock = [](sqlite3_file *f, int l) { return inner(f)->pMethods->xUnlock(inner(f), l); };
    m.xCheckReservedLock = guardedCheckReservedLock;
    m.xFileControl = [](sqlite3_file *f, int op, void *a) { return inner(f)->pMethods->xFileControl(inner(f), op, a); };
    m.xSectorSize = [](sqlite3_file *f) { return inner(f)->pMethods->xSectorSize(inner(f)); };
    m.xDeviceCharacteristics = [](sqlite3_file *f) { return inner(f)->pMethods->xDeviceCharacteristics(inner(f)); };
    m.xShmMap = [](sqlite3_file *f, int i, int n, int e, void volatile **p) {
        return inner(f)->pMethods->iVersion >= 2 ? inner(f)->pMethods->xShmMap(inner(f), i, n, e, p) : SQLITE_IOERR;
    };
    m.xShmLock = [](sqlite3_file *f, int o, int n, int fl) {
        return inner(f)->pMethods->iVersion >= 2 ? inner(f)->pMethods->xShmLock(inner(f), o, n, fl) : SQLITE_IOERR;
    };
    m.xShmBarrier = [](sqlite3_file *f) {
        if (inner(f)->pMethods->iVersion >= 2)
            inner(f)->pMethods->xShmBarrier(inner(f));
    };
    m.xShmUnmap = [](sqlite3_file *f, int d) {
        return inner(f)->pMethods->iVersion >= 2 ? inner(f)->pMethods->xShmUnmap(inner(f), d) : SQLITE_OK;
    };
    m.xFetch = [](sqlite3_file *f, sqlite3_int64 o, int n, void **p) {
        if (inner(f)->pMethods->iVersion >= 3)
            return inner(f)->pMethods->xFetch(inner(f), o, n, p);
        *p = nullptr;
        return SQLITE_OK;
    };
    m.xUnfetch = [](sqlite3_file *f, sqlite3_int64 o, void *p) {
        return inner(f)->pMethods->iVersion >= 3 ? inner(f)->pMethods->xUnfetch(inner(f), o, p) : SQLITE_OK;
    };
    sqlite3_vfs_register(&g_guardedVfs, /*makeDflt=*/1);
}

} // namespace

void Store::guardReplacedFiles()
{
    static std::once_flag once;
    std::call_once(once, installGuardedVfs);
}

// ---- Statement ------------------------------------------------------------

Statement::Statement(sqlite3 *db, const QString &sql) : m_sql(sql)
{
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v3(db, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT,
                           &m_stmt, nullptr)
        != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

void Statement::bind(int index, const QVariant &value)
{
    if (value.isNull())
        sqlite3_bind_null(m_stmt, index);
    else
        bindText(index, value.toString());
}

void Statement::bindText(int index, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void Statement::bindInt64(int index, qint64 value) { sqlite3_bind_int64(m_stmt, index, value); }

int Statement::step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_MISUSE; }

QVariant Statement::column(int index) const
{
    if (sqlite3_column_type(m_stmt, index) == SQLITE_NULL)
        return QVariant();
    const unsigned char *text = sqlite3_column_text(m_stmt, index);
    return fromUtf8(text, sqlite3_column_bytes(m_stmt, index));
}

qint64 Statement::columnInt64(int index) const { return sqlite3_column_int64(m_stmt, index); }

int Statement::columnCount() const { return m_stmt ? sqlite3_column_count(m_stmt) : 0; }

void Statement::reset()
{
    if (m_stmt) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
}

// ---- Store ----------------------------------------------------------------

Store::~Store()
{
    qDeleteAll(m_statements);
    m_statements.clear();
    sqlite3_close(m_db);
}

QString Store::shadowColumn(const QString &field) { return QStringLiteral("k_") + field.toLower(); }

QStringList Store::shadowColumns(DirectoryKind kind)
{
    QStringList out;
    for (const auto &[column, expr] : shadowExpressions(kind, [](int) { return QString(); }))
        out << column;
    return out;
}

void Store::registerFunctions()
{
    sqlite3_create_function_v2(m_db, "kfold", 1,
                               SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, &m_folded,
                               kfoldFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(m_db, "kcontains", 2,
                               SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                               kcontainsFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(m_db, "kafterfirst", 2,
                               SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                               kafterfirstFunction, nullptr, nullptr, nullptr);
}

std::unique_ptr<Store> Store::open(const QString &path, OpenStatus *status, QString *error,
                                   const Progress &progress)
{
    auto fail = [&](OpenStatus s, const QString &why) -> std::unique_ptr<Store> {
        if (status)
            *status = s;
        if (error)
            *error = why;
        return nullptr;
    };
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        return fail(OpenStatus::Missing, QStringLiteral("file not found"));

    guardReplacedFiles();
    std::unique_ptr<Store> store(new Store);
    store->m_path = path;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &store->m_db,
                        SQLITE_OPEN_READWRITE, nullptr)
        != SQLITE_OK)
        return fail(OpenStatus::Failed, QString::fromUtf8(sqlite3_errmsg(store->m_db)));
    sqlite3_extended_result_codes(store->m_db, 1);
    sqlite3_busy_timeout(store->m_db, 2000);
    store->registerFunctions();
    store->recordFileId();

    // Reading the schema is the first thing that touches the file's content.
    QString why;
    if (!store->exec(QStringLiteral("SELECT count(*) FROM sqlite_master"), &why)) {
        const int code = sqlite3_errcode(store->m_db) & 0xff;
        return fail(code == SQLITE_NOTADB ? OpenStatus::NotADatabase : OpenStatus::Failed, why);
    }
    if (!store->ensureSchema(&why, progress))
        return fail(OpenStatus::Failed, why);
    store->noticeOutsideWrites(); // from here on, writes by others are seen
    if (status)
        *status = OpenStatus::Ok;
    return store;
}

std::unique_ptr<Store> Store::create(const QString &path, QString *error)
{
    guardReplacedFiles();
    std::unique_ptr<Store> store(new Store);
    store->m_path = path;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &store->m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
        != SQLITE_OK) {
        if (error)
            *error = QString::fromUtf8(sqlite3_errmsg(store->m_db));
        return nullptr;
    }
    sqlite3_extended_result_codes(store->m_db, 1);
    store->registerFunctions();
    store->recordFileId();
    QString why;
    // The counters' triggers would slow the bulk load that follows;
    // createIndexes() adds them after it.
    if (!store->ensureSchema(&why, {}, /*counters=*/false)) {
        if (error)
            *error = why;
        return nullptr;
    }
    store->noticeOutsideWrites();
    return store;
}

std::optional<FileId> Store::fileIdOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

bool Store::readsFile(sqlite3 *db, const QString &path, FileId id)
{
    // The path names `id` before and after the connection is found to hold
    // the file the path names: so the connection holds `id`.
    int moved = 1;
    const auto before = fileIdOf(path);
    const bool held = sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && !moved;
    const auto after = fileIdOf(path);
    return held && before == id && after == id;
}

void Store::recordFileId()
{
    // The file the connection holds (the path may name a new one later).
    if (const auto id = fileIdOf(m_path); id && readsFile(m_db, m_path, *id))
        m_fileId = *id;
}

bool Store::isReadOnly() const { return sqlite3_db_readonly(m_db, "main") == 1; }

void Store::rollback()
{
    const bool failed = sqlite3_errcode(m_db) != SQLITE_OK;
    const QString reason = failed ? lastError() : QString();
    exec(QStringLiteral("ROLLBACK"));
    m_rollbackReason = reason;
}

QString Store::lastError() const
{
    if (sqlite3_errcode(m_db) == SQLITE_OK && !m_rollbackReason.isEmpty())
        return m_rollbackReason;
    // SQLite refuses to write to a file that another one has been renamed
    // over (a new edition), as the journal would be the new file's.
    if (sqlite3_extended_errcode(m_db) == SQLITE_READONLY_DBMOVED)
        return QStringLiteral("файл %1 заменён новым: перезапустите программу")
            .arg(QFileInfo(m_path).fileName());
    return QString::fromUtf8(sqlite3_errmsg(m_db));
}

Statement *Store::statement(const QString &sql)
{
    auto it = m_statements.constFind(sql);
    if (it != m_statements.constEnd())
        return it.value();
    auto *s = new Statement(m_db, sql);
    if (!s->isValid()) {
        delete s;
        return nullptr;
    }
    m_statements.insert(sql, s);
    return s;
}

bool Store::exec(const QString &sql, QString *error)
{
    char *message = nullptr;
    const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK && error)
        *error = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
    sqlite3_free(message);
    return rc == SQLITE_OK;
}

namespace {

// Filling a table's search columns costs about as much as two of its indexes.
constexpr qint64 kFillWeight = 2;

// Calls the progress of a first open from inside SQLite's long statements.
struct ProgressTicker {
    const Store::Progress *progress;
    const qint64 *folded;
    qint64 base = 0;         // units done before the statement running now
    qint64 perFolded = 0;    // units per thousand values folded in it
    qint64 total = 1;

    void report() const
    {
        const qint64 done = base + (perFolded ? *folded * perFolded / 1000 : 0);
        (*progress)(std::min(done, total), total);
    }
    static int tick(void *self)
    {
        static_cast<ProgressTicker *>(self)->report();
        return 0;
    }
};

} // namespace

bool Store::ensureSchema(QString *error, const Progress &progress, bool counters)
{
    // A read that fails (the file busy for longer than the timeout) must not
    // pass for a table or column that is missing: the open fails instead.
    QString readError;
    const auto check = [&](int rc, int wanted) {
        if (rc != wanted && readError.isEmpty())
            readError = QString::fromUtf8(sqlite3_errmsg(m_db));
    };
    // Columns each table has now, lower-cased (SQLite names are case-insensitive).
    auto columnsOf = [&](const QString &table) {
        QSet<QString> cols;
        Statement info(m_db, QStringLiteral("PRAGMA table_info(\"%1\")").arg(table));
        int rc;
        while ((rc = info.step()) == SQLITE_ROW)
            cols.insert(info.column(1).toString().toLower());
        check(rc, SQLITE_DONE);
        return cols;
    };
    auto single = [&](const QString &sql) {
        Statement s(m_db, sql);
        const int rc = s.step();
        check(rc, SQLITE_ROW);
        return rc == SQLITE_ROW ? s.columnInt64(0) : 0;
    };
    const int userVersion = int(single(QStringLiteral("PRAGMA user_version")));

    QStringList ddl;
    QList<DirectoryKind> refill;
    for (DirectoryKind kind : kAllKinds) {
        const TableInfo &t = tableInfo(kind);
        const QSet<QString> have = columnsOf(t.table);
        const QStringList shadows = shadowColumns(kind);
        if (have.isEmpty()) {
            QStringList cols;
            for (const QString &f : t.fields)
                cols << f + QStringLiteral(" TEXT");
            for (const QString &s : shadows)
                cols << s + QStringLiteral(" TEXT");
            ddl << QStringLiteral("CREATE TABLE %1 (%2)").arg(t.table, cols.join(QStringLiteral(", ")));
            continue;
        }
        bool added = false;
        for (const QString &c : t.fields + shadows) {
            if (!have.contains(c.toLower())) {
                ddl << QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 TEXT").arg(t.table, c);
                added = true;
            }
        }
        // The personal directory is small and may have been edited by other
        // tools, so its shadows are checked at every open (and written only
        // when some are wrong: a second program starting is not a change).
        if (added || userVersion != kFoldVersion
            || (kind == DirectoryKind::Personal && personalShadowsStale(&readError)))
            refill << kind;
    }

    const bool addCounters = counters && !hasChangeCounters(&readError);
    if (!readError.isEmpty()) {
        if (error)
            *error = readError;
        return false;
    }
    const bool needsWrite = !ddl.isEmpty() || userVersion != kFoldVersion;
    if (!needsWrite && refill.isEmpty() && !addCounters)
        return true; // up to date: nothing written, no lock taken
    if (isReadOnly()) {
        if (needsWrite) {
            if (error)
                *error = QStringLiteral("the file is read-only and lacks the search columns");
            return false;
        }
        return true;
    }
    // A file that is complete but cannot be written where it lies (a
    // read-only folder, say) is searched as it is: only the refresh of the
    // personal shadows is lost.
    const auto failed = [&] {
        const bool readOnly = (sqlite3_errcode(m_db) & 0xff) == SQLITE_READONLY;
        sqlite3_progress_handler(m_db, 0, nullptr, nullptr);
        exec(QStringLiteral("PRAGMA cache_size = -2000"));
        rollback();
        return !needsWrite && readOnly;
    };
    if (!exec(QStringLiteral("BEGIN IMMEDIATE"), error))
        return failed();
    for (const QString &stmt : ddl) {
        if (!exec(stmt, error))
            return failed();
    }

    // The work ahead, in rows: each table filled, each missing index made.
    QSet<QString> indexes;
    {
        Statement names(m_db, QStringLiteral("SELECT lower(name) FROM sqlite_master WHERE type = 'index'"));
        while (names.step() == SQLITE_ROW)
            indexes.insert(names.column(0).toString());
    }
    QHash<int, qint64> rows;
    ProgressTicker ticker{&progress, &m_folded};
    ticker.total = 0;
    auto indexName = [](const QString &statement) { return statement.section(u' ', 5, 5).toLower(); };
    for (DirectoryKind kind : kAllKinds) {
        // A table that is complete is not counted: that would read all of
        // it at every start. (Its trimmed house and flat indexes may well be
        // missing for good: see below.)
        const QStringList all = indexStatements(kind);
        const bool missing = std::any_of(all.cbegin(), all.cend() - 2, [&](const QString &ix) {
            return !indexes.contains(indexName(ix));
        });
        if (!refill.contains(kind) && !missing)
            continue;
        rows[int(kind)] = single(QStringLiteral("SELECT count(*) FROM %1").arg(tableInfo(kind).table));
        ticker.total += refill.contains(kind) ? kFillWeight * rows[int(kind)] : 0;
        for (const QString &ix : all)
            ticker.total += indexes.contains(indexName(ix)) ? 0 : rows[int(kind)];
    }
    ticker.total = std::max<qint64>(ticker.total, 1);
    if (progress) {
        sqlite3_progress_handler(m_db, 200000, &ProgressTicker::tick, &ticker);
        ticker.report();
    }

    for (DirectoryKind kind : refill) {
        m_folded = 0;
        ticker.perFolded = 1000 * kFillWeight / std::max<qsizetype>(shadowColumns(kind).size(), 1);
        if (!refreshShadows(kind, error))
            return failed();
        ticker.perFolded = 0;
        ticker.base += kFillWeight * rows[int(kind)];
    }
    // The sorts of the index builds ran about a tenth faster with a smaller
    // cache (their working memory follows it, and every page of it faults
    // in); a larger cache, or PRAGMA threads = 2, made them slower here.
    exec(QStringLiteral("PRAGMA cache_size = -1024"));
    for (DirectoryKind kind : kAllKinds) {
        for (const QString &ix : indexStatements(kind)) {
            if (indexes.contains(indexName(ix)))
                continue;
            // The trimmed house and flat values are searched only when some
            // value starts with a blank; else their indexes would never be
            // used (the check seeks the house and flat indexes made before).
            const QString suffix = indexName(ix).section(u'_', 2); // tel, name, ..., tdom, tkvart
            const QString trimmed = suffix == QLatin1String("tdom")     ? QStringLiteral("Dom")
                : suffix == QLatin1String("tkvart") ? QStringLiteral("Kvart")
                                                   : QString();
            const bool unused = !trimmed.isEmpty() && !hasLeadingBlanks(kind, trimmed);
            if (!unused && !exec(ix, error))
                return failed();
            ticker.base += rows[int(kind)];
            if (progress)
                ticker.report();
        }
    }
    sqlite3_progress_handler(m_db, 0, nullptr, nullptr);
    exec(QStringLiteral("PRAGMA cache_size = -2000")); // SQLite's default, for the searches
    for (const QString &stmt : counters ? changeCounterStatements() : QStringList()) {
        if (!exec(stmt, error))
            return failed();
    }
    if (!exec(QStringLiteral("PRAGMA user_version = %1").arg(kFoldVersion), error))
        return failed();
    if (!commit()) {
        if (error)
            *error = lastError();
        return failed();
    }
    if (progress)
        progress(ticker.total, ticker.total);
    return true;
}

QStringList Store::indexStatements(DirectoryKind kind)
{
    const QString t = tableInfo(kind).table;
    const QString name = kind == DirectoryKind::Enterprises ? QStringLiteral("k_predpr, k_prim")
                                                            : QStringLiteral("k_family");
    const QStringList indexes = {
        QStringLiteral("tel ON %1 (k_n_tel)"),
        QStringLiteral("name ON %1 (") + name + QStringLiteral(")"),
        QStringLiteral("street ON %1 (k_street, k_dom, k_dom1, k_kvart, k_kvart1)"),
        QStringLiteral("dom ON %1 (k_dom, k_dom1, k_kvart, k_kvart1)"),
        QStringLiteral("kvart ON %1 (k_kvart, k_kvart1)"),
        QStringLiteral("tdom ON %1 (kt_dom)"),
        QStringLiteral("tkvart ON %1 (kt_kvart)"),
    };
    QStringList out;
    for (const QString &ix : indexes)
        out << QStringLiteral("CREATE INDEX IF NOT EXISTS ix_%1_").arg(t.toLower()) + ix.arg(t);
    return out;
}

bool Store::refreshShadows(DirectoryKind kind, QString *error)
{
    const TableInfo &t = tableInfo(kind);
    QStringList sets;
    for (const auto &[column, expr] : shadowExpressions(kind, [&](int i) { return t.fields[i]; }))
        sets << column + QStringLiteral(" = ") + expr;
    return exec(QStringLiteral("UPDATE %1 SET %2").arg(t.table, sets.join(QStringLiteral(", "))), error);
}

bool Store::createIndexes(QString *error)
{
    for (DirectoryKind kind : kAllKinds) {
        for (const QString &sql : indexStatements(kind)) {
            if (!exec(sql, error))
                return false;
        }
    }
    for (const QString &sql : changeCounterStatements()) {
        if (!exec(sql, error))
            return false;
    }
    return true;
}

bool Store::personalShadowsStale(QString *readError)
{
    const TableInfo &t = tableInfo(DirectoryKind::Personal);
    QStringList differs;
    for (const auto &[column, expr] : shadowExpressions(DirectoryKind::Personal, [&](int i) { return t.fields[i]; }))
        differs << column + QStringLiteral(" IS NOT ") + expr;
    Statement s(m_db, QStringLiteral("SELECT 1 FROM %1 WHERE %2 LIMIT 1").arg(t.table, differs.join(QStringLiteral(" OR "))));
    const int rc = s.step();
    if ((rc & 0xff) == SQLITE_BUSY && readError->isEmpty())
        *readError = QString::fromUtf8(sqlite3_errmsg(m_db));
    return rc != SQLITE_DONE; // a row, or an error (a column missing): refill
}

bool Store::hasChangeCounters(QString *readError)
{
    Statement s(m_db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND name GLOB 'korvana_*'"));
    const int rc = s.step();
    if (rc != SQLITE_ROW && readError->isEmpty())
        *readError = QString::fromUtf8(sqlite3_errmsg(m_db));
    return rc == SQLITE_ROW && s.columnInt64(0) == 3 * qint64(std::size(kAllKinds));
}

bool Store::readChangeCounters(qint64 out[3])
{
    Statement *s = statement(QStringLiteral("SELECT tbl, n FROM %1").arg(kCountersTable));
    if (!s)
        return false;
    Statement::Use use(*s);
    int found = 0;
    while (s->step() == SQLITE_ROW) {
        const QString table = s->column(0).toString();
        for (DirectoryKind kind : kAllKinds) {
            if (table == tableInfo(kind).table) {
                out[int(kind) - 1] = s->columnInt64(1);
                ++found;
            }
        }
    }
    return found == int(std::size(kAllKinds));
}

bool Store::insertRow(DirectoryKind kind, const QVariantList &values, qint64 *rowid)
{
    const TableInfo &t = tableInfo(kind);
    Statement *s = statement(insertSql(kind));
    if (!s)
        return false;
    Statement::Use use(*s);
    for (int i = 0; i < t.fields.size(); ++i)
        s->bind(i + 1, i < values.size() ? values.at(i) : QVariant());
    if (s->step() != SQLITE_DONE)
        return false;
    if (rowid)
        *rowid = sqlite3_last_insert_rowid(m_db);
    wrote(kind);
    return true;
}

bool Store::updateField(DirectoryKind kind, qint64 rowid, const QString &field, const QVariant &value)
{
    const TableInfo &t = tableInfo(kind);
    const auto it = std::find_if(t.fields.cbegin(), t.fields.cend(), [&](const QString &f) {
        return f.compare(field, Qt::CaseInsensitive) == 0;
    });
    if (it == t.fields.cend())
        return false;
    QString sets = QStringLiteral("%1 = ?1, %2 = kfold(?1)").arg(*it, shadowColumn(*it));
    if (hasTrimmedShadow(*it))
        sets += QStringLiteral(", %1 = kfold(trim(?1))").arg(trimmedShadow(*it));
    Statement *s = statement(QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?2").arg(t.table, sets));
    if (!s)
        return false;
    Statement::Use use(*s);
    s->bind(1, value);
    s->bindInt64(2, rowid);
    if (s->step() != SQLITE_DONE || sqlite3_changes(m_db) != 1)
        return false;
    wrote(kind);
    return true;
}

bool Store::deleteRow(DirectoryKind kind, qint64 rowid)
{
    Statement *s = statement(
        QStringLiteral("DELETE FROM %1 WHERE rowid = ?1").arg(tableInfo(kind).table));
    if (!s)
        return false;
    Statement::Use use(*s);
    s->bindInt64(1, rowid);
    if (s->step() != SQLITE_DONE || sqlite3_changes(m_db) != 1)
        return false;
    wrote(kind);
    return true;
}

// Counts of a whole table, kept until that table is next written.
qint64 Store::cachedCount(DirectoryKind kind, const QString &sql)
{
    const QString key = tableInfo(kind).table + u'\n' + sql;
    auto it = m_counts.constFind(key);
    if (it != m_counts.constEnd())
        return it.value();
    Statement *s = statement(sql);
    if (!s)
        return -1;
    Statement::Use use(*s);
    if (s->step() != SQLITE_ROW)
        return -1;
    const qint64 n = s->columnInt64(0);
    m_counts.insert(key, n);
    return n;
}

qint64 Store::tableRowCount(DirectoryKind kind)
{
    return cachedCount(kind, QStringLiteral("SELECT count(*) FROM %1").arg(tableInfo(kind).table));
}

qint64 Store::nonNullCount(DirectoryKind kind, const QString &column)
{
    if (!shadowColumns(kind).contains(column))
        return -1;
    return cachedCount(kind, QStringLiteral("SELECT count(*) FROM %1 WHERE %2 IS NOT NULL")
                                 .arg(tableInfo(kind).table, column));
}

bool Store::hasLeadingBlanks(DirectoryKind kind, const QString &field)
{
    const QString table = tableInfo(kind).table;
    const QString key = table + u'.' + field.toLower();
    auto it = m_leadingBlanks.constFind(key);
    if (it != m_leadingBlanks.constEnd())
        return it.value();
    // One seek in the field's sort index: the blank sorts before every
    // other character that a value can start with.
    Statement *s = statement(QStringLiteral("SELECT 1 FROM %1 WHERE %2 >= ' ' AND %2 < '!' LIMIT 1")
                                 .arg(table, shadowColumn(field)));
    if (!s)
        return true;
    Statement::Use use(*s);
    const int rc = s->step();
    const bool blanks = rc != SQLITE_DONE; // a row, or an error: assume the worst
    m_leadingBlanks.insert(key, blanks);
    return blanks;
}

QString Store::distinctValues(DirectoryKind kind, const QString &column)
{
    const QString table = tableInfo(kind).table;
    if (!shadowColumns(kind).contains(column))
        return QString();
    const QString key = table + u'.' + column;
    auto it = m_distinct.constFind(key);
    if (it != m_distinct.constEnd())
        return it.value();
    // One seek in the column's index per distinct value, so a column with
    // many values costs at most kMaxDistinct seeks, once.
    Statement *next = statement(
        QStringLiteral("SELECT %2 FROM %1 WHERE %2 > ?1 ORDER BY %2 LIMIT 1").arg(table, column));
    Statement *first = statement(
        QStringLiteral("SELECT %2 FROM %1 WHERE %2 IS NOT NULL ORDER BY %2 LIMIT 1").arg(table, column));
    QJsonArray values;
    if (next && first) {
        Statement::Use use(*first);
        int rc = first->step();
        QString value = rc == SQLITE_ROW ? first->column(0).toString() : QString();
        while (rc == SQLITE_ROW && values.size() <= kMaxDistinct) {
            values.append(value);
            Statement::Use step(*next);
            next->bindText(1, value);
            rc = next->step();
            if (rc == SQLITE_ROW)
                value = next->column(0).toString();
        }
        if (rc != SQLITE_DONE)
            values = QJsonArray(); // too many values, or an error: not worth a list
    }
    const QString json = values.isEmpty()
        ? QString()
        : QString::fromUtf8(QJsonDocument(values).toJson(QJsonDocument::Compact));
    m_distinct.insert(key, json);
    return json;
}

void Store::wrote(DirectoryKind kind)
{
    m_leadingBlanks.clear();
    m_distinct.clear();
    const QString prefix = tableInfo(kind).table + u'\n';
    m_counts.removeIf([&](const auto &entry) { return entry.key().startsWith(prefix); });
    ++m_versions[int(kind) - 1];
}

void Store::takeOver(std::unique_ptr<Store> fresh)
{
    // The old connection and its statements leave with `fresh`.
    std::swap(m_db, fresh->m_db);
    std::swap(m_statements, fresh->m_statements);
    registerFunctions(); // their data points into this store, not the one going away
    m_path = fresh->m_path;
    m_fileId = fresh->m_fileId;
    m_dataVersion = fresh->m_dataVersion;
    std::copy(std::begin(fresh->m_counters), std::end(fresh->m_counters), std::begin(m_counters));
    for (DirectoryKind kind : kAllKinds)
        wrote(kind);
}

bool Store::followReplacement()
{
    int moved = 0;
    if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK || !moved
        || sqlite3_get_autocommit(m_db) == 0)
        return false;
    // A new edition was renamed over the path. The old file is read by
    // nobody else and a journal beside it now belongs to the new one, which
    // a reader of the old file would take for its own: read the new file.
    std::unique_ptr<Store> fresh = Store::open(m_path);
    if (!fresh)
        return false;
    takeOver(std::move(fresh));
    return true;
}

void Store::noticeOutsideWrites()
{
    if (followReplacement())
        return;
    Statement *s = statement(QStringLiteral("PRAGMA data_version"));
    if (!s)
        return;
    Statement::Use use(*s);
    const qint64 version = s->step() == SQLITE_ROW ? s->columnInt64(0) : -1;
    if (version == m_dataVersion)
        return;
    s->reset();
    // Only now is a second query worth its time: which tables were written.
    qint64 counters[3] = {-1, -1, -1};
    const bool known = readChangeCounters(counters);
    if (m_dataVersion >= 0) {
        for (DirectoryKind kind : kAllKinds) {
            const int i = int(kind) - 1;
            if (!known || counters[i] != m_counters[i])
                wrote(kind);
        }
    }
    std::copy(std::begin(counters), std::end(counters), std::begin(m_counters));
    m_dataVersion = version;
}

} // namespace korvana
