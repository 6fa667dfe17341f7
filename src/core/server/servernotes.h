#pragma once

#include <QHash>
#include <QString>
#include <QVariant>

namespace korvana {

class PgConnection;
class PgResult;
class Store;

// «Мой» of an office: the rows live in korvana.note on the server, each with
// a version that every change raises and the role that made it. A seat keeps
// a mirror of what it may see in the Note table of its copy, so that
// searching «Мой» stays a local search.
inline constexpr const char *kNoteChannel = "korvana_note";

// Shared: one list for the office. Own: each role sees and changes only its
// own rows; the server enforces it with row-level security.
enum class PersonalMode { Shared, Own };
PersonalMode personalModeFromText(const QString &text); // "own", anything else shared

// The table, its version trigger, its notice and its policies (the schema
// owner's work, done with the first load); then the mode.
bool ensureNoteSchema(PgConnection &db, QString *error);
bool setPersonalMode(PgConnection &db, PersonalMode mode, QString *error);

// Adds the «Мой» entries of a directory file to the list this role sees
// on the server, in one transaction, leaving out those it already holds
// (all seven fields equal). The file is only read. The number added, or -1
// with *error set.
int addLocalNotes(PgConnection &db, const QString &dbPath, QString *error);

struct NoteSave {
    enum class Status { Saved, Changed, Deleted, Failed };
    Status status = Status::Failed;
    QString error;         // the server's reason for Failed
    qint64 id = 0;         // the row saved (a new row's id once saved)
    QVariantList refused;  // the values that were not saved, for the user to see
    bool ok() const { return status == Status::Saved; }
    // The line the user is shown when the save was refused.
    QString reason() const;
};

class ServerNotes {
public:
    ServerNotes(PgConnection &db, Store &mirror) : m_db(db), m_mirror(mirror) {}

    // Makes the mirror equal to the rows the server shows this role,
    // writing only rows that differ. False when the server cannot be read
    // (the mirror then keeps the last rows seen).
    bool refresh(QString *error = nullptr);

    // Each save is one server transaction, checked against the version the
    // mirror holds: a row changed or deleted elsewhere since is refused, and
    // the mirror is refreshed so that it shows the server's row. Values are
    // in the order of the Note fields; an edit names columns.
    NoteSave insert(const QVariantList &values);
    NoteSave edit(qint64 id, const QHash<int, QVariant> &values);
    NoteSave remove(qint64 id);

    qint64 version(qint64 id) const { return m_versions.value(id, -1); }
    int size() const { return int(m_versions.size()); }

private:
    NoteSave saved(qint64 id);
    NoteSave checked(const PgResult &written, qint64 id, const QVariantList &values);
    NoteSave failed(const QVariantList &values);

    PgConnection &m_db;
    Store &m_mirror;
    QHash<qint64, qint64> m_versions; // id -> version as mirrored
};

} // namespace korvana
