#include "core/app/networkfolder.h"

#include <QFileInfo>
#include <QStorageInfo>

namespace korvana {

bool isNetworkFilesystemType(const QByteArray &type)
{
    static const QByteArrayList network = {
        "nfs", "nfs4", "cifs", "smb", "smb2", "smb3", "smbfs", "ncpfs", "afs", "coda",
        "9p", "ceph", "glusterfs", "lustre", "gpfs", "davfs", "sshfs", "ocfs2", "gfs2",
    };
    // User-space mounts carry the helper's name: fuse.sshfs, fuse.rclone, fuse.gvfsd-fuse.
    static const QByteArrayList fuseNetwork = {
        "sshfs", "rclone", "s3fs", "gvfsd-fuse", "glusterfs", "ceph", "davfs", "smbnetfs", "curlftpfs",
    };
    const QByteArray t = type.trimmed().toLower();
    if (network.contains(t))
        return true;
    for (const QByteArray &prefix : {QByteArray("fuse."), QByteArray("fuseblk.")}) {
        if (t.startsWith(prefix))
            return fuseNetwork.contains(t.mid(prefix.size()));
    }
    return false;
}

QByteArray filesystemTypeOf(const QString &path)
{
    const QFileInfo info(path);
    const QStorageInfo storage(info.exists() ? info.absoluteFilePath() : info.absolutePath());
    return storage.isValid() ? storage.fileSystemType() : QByteArray();
}

} // namespace korvana
