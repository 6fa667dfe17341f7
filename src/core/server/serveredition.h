#pragma once

#include "core/import/edition.h"
#include "core/import/mdbimport.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace korvana {

class PgConnection;

// The schema on the office server (all in schema "korvana"):
//   edition        one row per edition ever loaded: its source (file name,
//                  size, time, digest), when and by whom it was loaded, its
//                  row counts, and the size and SHA-256 of its image;
//   edition_chunk  the image of the edition (a complete kadu.db) in pieces;
//   served         the one edition the seats take.
// The loading role owns the schema; every other role may only read it.
inline constexpr const char *kEditionChannel = "korvana_edition";

// An edition as the server records it.
struct ServedEdition {
    qint64 id = 0;
    Edition source;      // the file it was made from; recordedAt = loaded at
    QString loadedBy;
    QByteArray imageSha256; // hex
    qint64 imageSize = 0;
};

// Creates the schema when it is missing (the loading role's first load).
bool ensureServerSchema(PgConnection &db, QString *error);

struct ServerLoadResult {
    bool ok = false;
    bool cancelled = false;
    QString error;
    QStringList warnings;
    ServedEdition edition;
};

// Loads a new edition into the server from an Access file or from a
// directory file (whose «Мой» entries stay private: they are not served).
// All or nothing, in one transaction: the seats keep getting the previous
// edition until the new one is complete, and are then told of it.
ServerLoadResult loadServerEditionFromAccess(const QString &service, const QString &mdbPath,
                                             const ImportProgress &progress = {});
ServerLoadResult loadServerEditionFromDb(const QString &service, const QString &dbPath,
                                         const ImportProgress &progress = {});

// The edition the server serves (one round trip); nullopt with an empty
// *error when none has been loaded yet.
std::optional<ServedEdition> servedEdition(PgConnection &db, QString *error);

// The served edition a seat's copy was made from; 0 for none or no copy.
qint64 copiedEdition(const QString &copyPath);

// The seat's copy of the service's editions: $XDG_CACHE_HOME/korvana/SERVICE.db,
// the name made safe for a file name.
QString seatCopyPath(const QString &service);

struct FetchResult {
    bool ok = false;
    bool cancelled = false;
    QString error;
    ServedEdition edition;
};

// Takes the served edition into the copy at copyPath: its image is written
// beside the copy, checked against its SHA-256, given the copy's «Мой»
// entries, and renamed over the copy. A failure or a cancel leaves the copy
// as it was.
FetchResult fetchServedEdition(PgConnection &db, const QString &copyPath,
                               const ImportProgress &progress = {});

} // namespace korvana
