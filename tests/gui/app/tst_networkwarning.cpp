// A kadu.db in a network folder: told once, then it works as before.

#include "messagecatcher.h"

#include "core/app/networkfolder.h"
#include "gui/app/networkwarning.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace korvana;

class TestNetworkWarning : public QObject {
    Q_OBJECT
private slots:
    void typeNames_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<bool>("network");
        for (const char *t : {"nfs", "nfs4", "cifs", "smb3", "smbfs", "9p", "ceph", "fuse.sshfs", "fuse.rclone",
                              "fuse.gvfsd-fuse", "NFS4"})
            QTest::newRow(t) << QByteArray(t) << true;
        for (const char *t : {"ext4", "xfs", "btrfs", "tmpfs", "overlay", "vfat", "fuse", "fuse.portal",
                              "fuseblk", "", "nfsd", "fuse.sshfsx"})
            QTest::newRow(*t ? t : "empty") << QByteArray(t) << false;
    }
    void typeNames()
    {
        QFETCH(QByteArray, type);
        QFETCH(bool, network);
        QCOMPARE(isNetworkFilesystemType(type), network);
    }

    void warnedOncePerFile()
    {
        QTemporaryDir dir;
        test::MessageCatcher messages;
        QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        const QString db = dir.filePath(QStringLiteral("kadu.db"));
        // A local folder: no word.
        QVERIFY(!filesystemTypeOf(db).isEmpty());
        QVERIFY(!warnOfNetworkFolder(db, filesystemTypeOf(db), settings));
        QVERIFY(warnOfNetworkFolder(db, "nfs4", settings));
        QCOMPARE(messages.count(), 1);
        QVERIFY2(messages.texts().at(0).contains(QStringLiteral("сетевой папке (nfs4)"))
                     && messages.texts().at(0).contains(QStringLiteral("An office on one server")),
                 qPrintable(messages.texts().at(0)));
        QVERIFY(!warnOfNetworkFolder(db, "nfs4", settings));
        QSettings again(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        QVERIFY(!warnOfNetworkFolder(db, "nfs4", again));
        QVERIFY(warnOfNetworkFolder(dir.filePath(QStringLiteral("other/kadu.db")), "cifs", again));
        QCOMPARE(messages.count(), 2);
    }

    // Whatever network mount this machine has, its files are seen as such.
    void realNetworkMount()
    {
        QFile mounts(QStringLiteral("/proc/mounts"));
        QVERIFY(mounts.open(QIODevice::ReadOnly));
        for (const QByteArray &line : mounts.readAll().split('\n')) {
            const QList<QByteArray> f = line.split(' ');
            if (f.size() > 2 && isNetworkFilesystemType(f.at(2))) {
                QCOMPARE(filesystemTypeOf(QString::fromLocal8Bit(f.at(1)) + QStringLiteral("/kadu.db")), f.at(2));
                return;
            }
        }
        QSKIP("no network file system is mounted here, and a test cannot mount one without privileges");
    }
};

QTEST_MAIN(TestNetworkWarning)
#include "tst_networkwarning.moc"
