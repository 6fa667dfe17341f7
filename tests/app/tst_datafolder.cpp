#include "app/datafolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using korvana::StartOptions;

class TestDataFolder : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void options_data();
    void options();
    void defaultFolderFollowsXdgDataHome();
    void entersAndCreatesMissingFolders();
    void entersExistingFolderKeepingItsFiles();
    void relativeFolderIsTakenFromCurrentDirectory();
    void refusalsLeaveCurrentDirectoryAlone_data();
    void refusalsLeaveCurrentDirectoryAlone();

private:
    QString m_startDir;
    QByteArray m_xdgDataHome;
    QByteArray m_home;
};

void TestDataFolder::init()
{
    m_startDir = QDir::currentPath();
    m_xdgDataHome = qgetenv("XDG_DATA_HOME");
    m_home = qgetenv("HOME");
}

void TestDataFolder::cleanup()
{
    QDir::setCurrent(m_startDir);
    qputenv("XDG_DATA_HOME", m_xdgDataHome);
    if (m_xdgDataHome.isEmpty())
        qunsetenv("XDG_DATA_HOME");
    qputenv("HOME", m_home);
}

void TestDataFolder::options_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("enter");
    QTest::addColumn<QString>("folder");

    const int run = int(StartOptions::Action::Run);
    const int help = int(StartOptions::Action::Help);
    const int version = int(StartOptions::Action::Version);
    // A terminal start stays where it is.
    QTest::newRow("none") << QStringList{} << run << false << QString();
    QTest::newRow("default folder") << QStringList{"--data-folder"} << run << true << QString();
    QTest::newRow("folder with =") << QStringList{"--data-folder=/srv/town"} << run << true
                                   << "/srv/town";
    QTest::newRow("folder as next word") << QStringList{"--data-folder", "town"} << run << true
                                         << "town";
    QTest::newRow("empty value is the default") << QStringList{"--data-folder="} << run << true
                                                << QString();
    // Qt's own options after ours are not taken for a folder.
    QTest::newRow("Qt option follows") << QStringList{"--data-folder", "-style", "fusion"} << run
                                       << true << QString();
    QTest::newRow("Qt options alone") << QStringList{"-platform", "offscreen"} << run << false
                                      << QString();
    QTest::newRow("last folder wins") << QStringList{"--data-folder=a", "--data-folder"} << run
                                      << true << QString();
    QTest::newRow("prefix is not the option") << QStringList{"--data-folders"} << run << false
                                              << QString();
    QTest::newRow("help") << QStringList{"-h"} << help << false << QString();
    QTest::newRow("help wins over version") << QStringList{"--version", "--help"} << help << false
                                            << QString();
    QTest::newRow("version") << QStringList{"--data-folder", "--version"} << version << true
                             << QString();
}

void TestDataFolder::options()
{
    QFETCH(QStringList, args);
    QFETCH(int, action);
    QFETCH(bool, enter);
    QFETCH(QString, folder);

    args.prepend(QStringLiteral("korvana"));
    const StartOptions options = korvana::parseStartOptions(args);
    QCOMPARE(int(options.action), action);
    QCOMPARE(options.enterDataFolder, enter);
    QCOMPARE(options.dataFolder, folder);
}

void TestDataFolder::defaultFolderFollowsXdgDataHome()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    qputenv("HOME", QFile::encodeName(home.path()));
    qunsetenv("XDG_DATA_HOME");
    QCOMPARE(korvana::defaultDataFolder(), home.path() + "/.local/share/korvana");

    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/data"));
    QCOMPARE(korvana::defaultDataFolder(), home.path() + "/data/korvana");
}

void TestDataFolder::entersAndCreatesMissingFolders()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString folder = root.path() + "/.local/share/korvana";
    QString error;
    QVERIFY2(korvana::enterDataFolder(folder, &error), qPrintable(error));
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(QDir::currentPath(), QDir(folder).canonicalPath());
    // The files the program opens by bare name land in that folder.
    QFile side(QStringLiteral("WGridCol.txt"));
    QVERIFY(side.open(QIODevice::WriteOnly));
    side.close();
    QVERIFY(QFileInfo::exists(folder + "/WGridCol.txt"));
}

void TestDataFolder::entersExistingFolderKeepingItsFiles()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QFile db(root.filePath(QStringLiteral("kadu.db")));
    QVERIFY(db.open(QIODevice::WriteOnly));
    db.write("directory");
    db.close();

    QString error;
    QVERIFY2(korvana::enterDataFolder(root.path(), &error), qPrintable(error));
    QCOMPARE(QDir::currentPath(), QDir(root.path()).canonicalPath());
    QFile again(QStringLiteral("kadu.db"));
    QVERIFY(again.open(QIODevice::ReadOnly));
    QCOMPARE(again.readAll(), QByteArray("directory"));
}

void TestDataFolder::relativeFolderIsTakenFromCurrentDirectory()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QDir::setCurrent(root.path()));
    QString error;
    QVERIFY2(korvana::enterDataFolder(QStringLiteral("town/data"), &error), qPrintable(error));
    QCOMPARE(QDir::currentPath(), QDir(root.path() + "/town/data").canonicalPath());
}

void TestDataFolder::refusalsLeaveCurrentDirectoryAlone_data()
{
    QTest::addColumn<QString>("inRoot");
    QTest::addColumn<QString>("expectedError");
    // No data location at all (no home).
    QTest::newRow("empty") << QString() << "no data folder";
    // A file where the folder should be, and a folder below a file: both
    // fail even for root, for whom permissions would not.
    QTest::newRow("file in the way") << "kadu.db" << "is not a folder";
    QTest::newRow("below a file") << "kadu.db/korvana" << "cannot create";
}

void TestDataFolder::refusalsLeaveCurrentDirectoryAlone()
{
    QFETCH(QString, inRoot);
    QFETCH(QString, expectedError);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    QFile file(root.filePath(QStringLiteral("kadu.db")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString before = QDir::currentPath();

    QString error;
    const QString folder = inRoot.isEmpty() ? QString() : root.filePath(inRoot);
    QVERIFY(!korvana::enterDataFolder(folder, &error));
    QVERIFY2(error.contains(expectedError), qPrintable(error));
    QCOMPARE(QDir::currentPath(), before);
    QVERIFY(QFileInfo(root.filePath(QStringLiteral("kadu.db"))).isFile());
}

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
