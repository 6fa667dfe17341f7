#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

struct sqlite3;

namespace korvana {

class Store;

// One edition of the town's Access file: what a directory file records of
// the file it was made from, and of the last one the user chose not to take.
struct Edition {
    QString fileName;     // without its folder
    qint64 size = -1;
    QDateTime modified;   // of the file, UTC
    QByteArray digest;    // SHA-256 of the content, hex; empty until computed
    QDateTime recordedAt; // when it was imported (or declined), UTC
    qint64 residents = 0, enterprises = 0, personal = 0; // rows of the file's tables
};

// Name, size and time of a file, without its digest; nullopt when it is not a file.
std::optional<Edition> fileEdition(const QString &path);
// Fills edition.digest from the file; false when the file cannot be read.
bool computeDigest(Edition &edition, const QString &path);
// Whether `file` (at `path`) has the content of `recorded`. Equal size and
// time count as the same file; equal size with another time is settled by
// the digest, so a copy of the same edition is not taken for a new one.
bool sameContent(const Edition &recorded, Edition &file, const QString &path);

struct EditionRecords {
    std::optional<Edition> imported;
    std::optional<Edition> declined;
};
// The records of a directory file, read without writing to it; nullopt when
// it cannot be read as a database.
std::optional<EditionRecords> readEditions(const QString &dbPath);
// Records `edition` in the store's own table, in the caller's transaction.
bool writeImportedEdition(Store &store, const Edition &edition, QString *error);
// Records that the user chose to keep the directory rather than take the
// Access file at mdbPath; that file is then not offered again.
bool recordDeclinedEdition(const QString &mdbPath, const QString &dbPath, QString *error = nullptr);

// Whether the Access file at mdbPath should be offered as a new edition of
// the directory file at dbPath: it is neither the recorded nor the declined
// edition, or, with nothing recorded, it is newer than the directory file.
// offer is false when either file is missing or unreadable.
struct EditionOffer {
    bool offer = false;
    QDateTime modified; // the Access file's, local time
};
EditionOffer newEditionOffer(const QString &mdbPath, const QString &dbPath);

// The write lock of an existing directory file, held from the moment its
// personal directory is counted until a new file has been renamed over it.
// A personal edit that another program makes meanwhile waits for the lock or
// fails and says so; it is never written to a file about to be replaced.
class DirectoryLock {
public:
    DirectoryLock() = default;
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock &) = delete;
    DirectoryLock &operator=(const DirectoryLock &) = delete;

    enum class Status { Locked, NotADatabase, Failed };
    // Locks the file at dbPath and counts its personal entries; *error says why not.
    Status acquire(const QString &dbPath, QString *error);
    void release();

    // Whether the path no longer names the locked file: another program
    // renamed a new one over it while this lock was waited for. The lock
    // then guards nothing anyone will read again.
    bool hasMoved() const;
    bool isHeld() const { return m_db != nullptr; }
    qint64 personalCount() const { return m_personalCount; }
    // Which of the table's fields the locked file has (a file made by hand
    // may lack some); in the table's order.
    const QList<bool> &personalFields() const { return m_personalFields; }

private:
    sqlite3 *m_db = nullptr;
    qint64 m_personalCount = 0;
    QList<bool> m_personalFields;
};

} // namespace korvana
