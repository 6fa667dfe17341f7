#pragma once

#include <QString>

#include <sys/types.h>

namespace korvana {

// A new directory file built beside the one it is to take the place of,
// then renamed over it in one step, so that a reader sees either file whole.
// A link named kadu.db stays a link: the file it names is the one replaced.
// The new file has the old one's owner, group and mode from the moment it
// is made (never wider, whatever the umask); a failure to give it them is
// an error and the old file stays. The caller holds the old file's write
// lock (DirectoryLock) and checks that the path still names the locked
// file before it installs.
class DirectoryReplacement {
public:
    DirectoryReplacement() = default;
    ~DirectoryReplacement(); // removes the new file (and its journal) unless installed
    DirectoryReplacement(const DirectoryReplacement &) = delete;
    DirectoryReplacement &operator=(const DirectoryReplacement &) = delete;

    // The file a path names: a link's target, else the path itself.
    static QString targetOf(const QString &path);

    // Makes the new, empty file beside targetOf(path); *error says why not.
    // With no file at the path, the new one gets the usual permissions.
    bool prepare(const QString &path, QString *error);
    QString target() const { return m_target; }
    QString newFile() const { return m_newFile; }

    // Puts the new file in the target's place and syncs the folder. With
    // no file there at prepare(), one that appeared meanwhile is kept.
    bool install(QString *error);

private:
    QString m_target;
    QString m_newFile;
    bool m_replaces = false;
};

} // namespace korvana
