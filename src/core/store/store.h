#pragma once

#include "core/store/directorykind.h"

#include <QHash>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

#include <sys/types.h>

struct sqlite3;
struct sqlite3_stmt;

namespace korvana {

// One prepared statement. Values are bound, never spliced into SQL text.
// A statement is reset when its Use ends, so no read transaction outlives
// the caller (a stepped, unreset statement would block writes to Note).
class Statement {
public:
    Statement(sqlite3 *db, const QString &sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool isValid() const { return m_stmt != nullptr; }
    QString sql() const { return m_sql; }

    void bind(int index, const QVariant &value); // 1-based; null QVariant binds NULL
    void bindText(int index, const QString &text);
    void bindInt64(int index, qint64 value);
    // SQLITE_ROW, SQLITE_DONE or an error code
    int step();
    QVariant column(int index) const; // NULL gives a null QVariant, text a QString
    qint64 columnInt64(int index) const;
    int columnCount() const;
    void reset();

    // Resets the statement when it leaves scope.
    class Use {
    public:
        explicit Use(Statement &s) : m_s(s) {}
        ~Use() { m_s.reset(); }
        Statement *operator->() { return &m_s; }
        Statement &operator*() { return m_s; }

    private:
        Statement &m_s;
    };

private:
    sqlite3_stmt *m_stmt = nullptr;
    QString m_sql;
};

// Which file a path names: its device and inode.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileId &, const FileId &) = default;
};

// The directory database: one SQLite file with the tables NASELEN, PREDPR
// and Note, every field text. Beside each searched field the store keeps a
// folded shadow column ("k_" + field, lower case, ё as е) under an index,
// so that case-insensitive prefix searches are index ranges; the house and
// flat criteria use the folded trimmed values "kt_dom" and "kt_kvart".
class Store {
public:
    enum class OpenStatus { Ok, Missing, NotADatabase, Failed };
    // How far a long piece of work is: `done` of `total`; called often
    // enough to keep a window alive.
    using Progress = std::function<void(qint64 done, qint64 total)>;

    ~Store();

    // Opens an existing file (never creates one). A file made with only the
    // plain tables gets the shadow columns and indexes added on first open,
    // which takes seconds on a large town; `progress` follows that.
    static std::unique_ptr<Store> open(const QString &path, OpenStatus *status = nullptr,
                                       QString *error = nullptr, const Progress &progress = {});
    // Creates a new, empty directory file (for the generator and importer).
    static std::unique_ptr<Store> create(const QString &path, QString *error = nullptr);
    // Makes every SQLite connection of the process leave alone a journal
    // beside a file that was renamed over (see store.cpp); open() and
    // create() call it, other code that opens the file first must too.
    static void guardReplacedFiles();

    QString path() const { return m_path; }
    sqlite3 *handle() const { return m_db; }
    // The file this store reads; a new edition renamed over the path later
    // is another file, which the store never sees.
    FileId fileId() const { return m_fileId; }
    static std::optional<FileId> fileIdOf(const QString &path);
    // Whether connection `db` reads the file `id` that `path` names now.
    static bool readsFile(sqlite3 *db, const QString &path, FileId id);
    bool isReadOnly() const;

    // Statements are prepared once and kept for reuse across keystrokes.
    Statement *statement(const QString &sql);
    bool exec(const QString &sql, QString *error = nullptr);
    QString lastError() const;

    bool begin() { return exec(QStringLiteral("BEGIN")); }
    bool commit() { return exec(QStringLiteral("COMMIT")); }
    // Keeps the reason of the failure that led to it for lastError(): a
    // successful ROLLBACK would otherwise leave only "not an error".
    void rollback();

    // Appends one row; values in the order of tableInfo(kind).fields, a null
    // QVariant storing NULL. Shadow columns are filled in the same statement.
    bool insertRow(DirectoryKind kind, const QVariantList &values, qint64 *rowid = nullptr);
    // Changes one field of one row (Note only in practice), keeping the shadows in step.
    bool updateField(DirectoryKind kind, qint64 rowid, const QString &field, const QVariant &value);
    bool deleteRow(DirectoryKind kind, qint64 rowid);

    // Creates the search indexes (the generator and importer call this after
    // their bulk inserts; open() makes sure they exist).
    bool createIndexes(QString *error = nullptr);
    // Recomputes every shadow column of a table from its fields, for rows
    // written by plain SQL; cached counts and value lists are kept.
    bool refreshShadows(DirectoryKind kind, QString *error = nullptr);

    // Row count of a whole table, kept until the table is next written.
    qint64 tableRowCount(DirectoryKind kind);
    // Rows whose column (a shadow column) is not NULL, kept like tableRowCount.
    qint64 nonNullCount(DirectoryKind kind, const QString &column);
    // Whether any value of a field ("Dom", "Kvart") starts with a blank.
    // Without such values the prefix of the trimmed value is the prefix of
    // the value, and the field's sort index can serve the criterion too.
    bool hasLeadingBlanks(DirectoryKind kind, const QString &field);
    // The distinct values of an indexed folded column ("k_street") as a JSON
    // array of strings, when there are at most kMaxDistinct of them; an empty
    // string when there are more. A pattern that starts with a wildcard can
    // then be matched against these few values and the rows found by index
    // seeks on the values that match. Kept until the table is next written.
    QString distinctValues(DirectoryKind kind, const QString &column);
    static constexpr int kMaxDistinct = 1000;

    // Changes with every write to the table, through this store or (once
    // noticeOutsideWrites() has seen it) by another connection or program.
    quint64 tableVersion(DirectoryKind kind) const { return m_versions[int(kind) - 1]; }
    // Checks whether another connection has written the file since the last
    // check (one PRAGMA); if so, the tables whose change counters moved count
    // as changed and their kept counts and value lists are dropped. A file
    // without the counters (read-only and old) has every table changed. A
    // new edition renamed over the path is opened in place of the old file
    // (every table changed); writes begun before that still fail.
    void noticeOutsideWrites();

    // Takes over the connection of `fresh`, a store just opened on the file
    // that now has this store's name (a new edition renamed over it). Every
    // table counts as written, so record sources and images start again.
    void takeOver(std::unique_ptr<Store> fresh);

    static QString shadowColumn(const QString &field); // "k_" + lower-case field
    static QStringList shadowColumns(DirectoryKind kind);

private:
    Store() = default;
    bool ensureSchema(QString *error, const Progress &progress, bool counters = true);
    // Whether some personal row's search columns do not match its fields
    // (another program wrote them): only then does an open write.
    bool personalShadowsStale(QString *readError);
    bool hasChangeCounters(QString *readError);
    void recordFileId();
    bool followReplacement();
    bool readChangeCounters(qint64 out[3]);
    // The CREATE INDEX statements of a table, in the order they are made.
    static QStringList indexStatements(DirectoryKind kind);
    void registerFunctions();
    void wrote(DirectoryKind kind);
    qint64 cachedCount(DirectoryKind kind, const QString &sql);

    sqlite3 *m_db = nullptr;
    QString m_path;
    QString m_rollbackReason;
    QHash<QString, Statement *> m_statements;
    QHash<QString, bool> m_leadingBlanks;
    QHash<QString, QString> m_distinct;
    QHash<QString, qint64> m_counts; // table + '\n' + count SQL -> count
    quint64 m_versions[3] = {};
    qint64 m_dataVersion = -1;
    qint64 m_counters[3] = {-1, -1, -1}; // the change counters as last read
    FileId m_fileId;
    qint64 m_folded = 0; // values folded, for the progress of a first open
};

} // namespace korvana
