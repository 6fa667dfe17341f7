#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

namespace korvana {

class PgConnection;
class PgResult;
class Store;

// «Мой» of an office: the rows live in korvana.note on the server, each with
// a version that every change raises and the role that made it. A seat keeps
// a mirror of what it may see in the Note table of its copy, so that
// searching «Мой» stays a local search.
inline constexpr const char *kNoteChannel = "korvana_note";

// Which list a seat works in: the office's shared one, or the own list of
// its server role, which the server keeps from every other role.
enum class PersonalMode { Shared, Own };
// [Server] Personal: "shared" (or nothing) and "own"; anything else is no mode.
std::optional<PersonalMode> personalModeFromText(const QString &text);

// The table, its version trigger, its notice and its policies (the schema
// owner's work, done with the first load).
bool ensureNoteSchema(PgConnection &db, QString *error);

// The «Мой» entries of a directory file, in the order of the Note fields.
// The file is only read, never upgraded. Empty with *error set on failure.
QList<QVariantList> readLocalNotes(const QString &dbPath, QString *error);

// Adds entries to the list of `mode` in one transaction, leaving out those
// it already holds (all seven fields equal). The number added, or -1 with
// *error set.
int addNotes(PgConnection &db, const QList<QVariantList> &rows, PersonalMode mode, QString *error);
int addLocalNotes(PgConnection &db, const QString &dbPath, PersonalMode mode, QString *error);

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
    ServerNotes(PgConnection &db, Store &mirror, PersonalMode mode = PersonalMode::Shared)
        : m_db(db), m_mirror(mirror), m_mode(mode)
    {
    }

    // Makes the mirror equal to the rows of the seat's list,
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
    PersonalMode m_mode;
    QHash<qint64, qint64> m_versions; // id -> version as mirrored
};

} // namespace korvana
