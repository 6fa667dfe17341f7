// A kadu.db in a network folder: told once, then it works as before.

#include "messagecatcher.h"

#include "core/app/networkfolder.h"
#include "gui/app/networkwarning.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace korvana;
using namespace Qt::StringLiterals;

class TestNetworkWarning : public QObject {
    Q_OBJECT
private slots:
    void typeNames()
    {
        for (const QByteArray &t : QByteArray("nfs nfs4 cifs smb3 smbfs 9p ceph fuse.sshfs fuse.rclone fuse.gvfsd-fuse NFS4").split(' '))
            QVERIFY2(isNetworkFilesystemType(t), t.constData());
        for (const QByteArray &t : QByteArray("ext4 xfs btrfs tmpfs overlay vfat fuse fuse.portal fuseblk nfsd fuse.sshfsx ").split(' '))
            QVERIFY2(!isNetworkFilesystemType(t), t.constData());
    }

    void warnedOncePerFile()
    {
        QTemporaryDir dir;
        test::MessageCatcher messages;
        const QString ini = dir.filePath(u"settings.ini"_s), db = dir.filePath(u"kadu.db"_s);
        QSettings settings(ini, QSettings::IniFormat);
        // A local folder: no word.
        QVERIFY(!filesystemTypeOf(db).isEmpty());
        QVERIFY(!warnOfNetworkFolder(db, filesystemTypeOf(db), settings));
        QVERIFY(warnOfNetworkFolder(db, "nfs4", settings));
        QCOMPARE(messages.count(), 1);
        QVERIFY2(messages.texts().at(0).contains(u"сетевой папке (nfs4)"_s)
                     && messages.texts().at(0).contains(u"An office on one server"_s),
                 qPrintable(messages.texts().at(0)));
        QVERIFY(!warnOfNetworkFolder(db, "nfs4", settings));
        QSettings again(ini, QSettings::IniFormat);
        QVERIFY(!warnOfNetworkFolder(db, "nfs4", again));
        QVERIFY(warnOfNetworkFolder(dir.filePath(u"other/kadu.db"_s), "cifs", again));
        QCOMPARE(messages.count(), 2);
    }

    // Whatever network mount this machine has, its files are seen as such.
    void realNetworkMount()
    {
        QFile mounts(u"/proc/mounts"_s);
        QVERIFY(mounts.open(QIODevice::ReadOnly));
        for (const QByteArray &line : mounts.readAll().split('\n')) {
            const QList<QByteArray> f = line.split(' ');
            if (f.size() > 2 && isNetworkFilesystemType(f.at(2))) {
                QCOMPARE(filesystemTypeOf(QString::fromLocal8Bit(f.at(1)) + u"/kadu.db"_s), f.at(2));
                return;
            }
        }
        QSKIP("no network mount on this machine, and none can be made here");
    }
};

QTEST_MAIN(TestNetworkWarning)
#include "tst_networkwarning.moc"
