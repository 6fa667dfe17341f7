#pragma once

#include <QByteArray>
#include <QString>

namespace korvana {

// Whether a file system type, as the mount table names it ("nfs4", "cifs",
// "fuse.sshfs"), is a network folder: SQLite's locks cannot be trusted
// there, so several seats must not share one directory file on it.
bool isNetworkFilesystemType(const QByteArray &type);

// The type of the file system holding `path` (or its folder, when the file
// does not exist yet); empty when it cannot be told.
QByteArray filesystemTypeOf(const QString &path);

} // namespace korvana
