#include "core/app/datafolder.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using korvana::StartOptions;

class TestDataFolder : public QObject {
    Q_OBJECT

private slots:
    // A terminal start stays where it is; bare, the default folder, and Qt's own options after it are no folder.
    void optionsTakeOnlyTheirOwnArguments()
    {
        const auto parse = [](const QStringList &args) { return korvana::parseStartOptions(QStringList{"korvana"} + args); };
        QVERIFY(!parse({}).enterDataFolder);
        QCOMPARE(parse({"--data-folder=/srv/town"}).dataFolder, "/srv/town");
        QCOMPARE(parse({"--data-folder", "town"}).dataFolder, "town");
        const StartOptions bare = parse({"--data-folder", "-style", "fusion"});
        QVERIFY(bare.enterDataFolder && bare.dataFolder.isEmpty() && bare.action == StartOptions::Action::Run);
        QVERIFY(!parse({"--data-folders"}).enterDataFolder);
        QVERIFY(parse({"--version", "--help"}).action == StartOptions::Action::Help);
        QVERIFY(parse({"--data-folder", "--version"}).action == StartOptions::Action::Version);
    }

    void defaultFolderFollowsXdgDataHome()
    {
        QTemporaryDir home;
        qputenv("HOME", QFile::encodeName(home.path())); // this process only, no other test reads it
        qunsetenv("XDG_DATA_HOME");
        QCOMPARE(korvana::defaultDataFolder(), home.path() + "/.local/share/korvana");
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/data"));
        QCOMPARE(korvana::defaultDataFolder(), home.path() + "/data/korvana");
    }

    // Made when missing, entered again with the files in it; a file in the way refused, nothing moved.
    void entersTheFolderCreatingItWhenMissing()
    {
        QTemporaryDir root;
        QVERIFY(QDir::setCurrent(root.path()));
        const QString folder = QDir(root.path()).canonicalPath() + "/town/data";
        QString error;
        QVERIFY2(korvana::enterDataFolder(QStringLiteral("town/data"), &error), qPrintable(error));
        QCOMPARE(QDir::currentPath(), folder);
        QVERIFY(korvana::test::writeBytes(QStringLiteral("kadu.db"), "directory"));
        QVERIFY(QDir::setCurrent(root.path()));
        QVERIFY2(korvana::enterDataFolder(folder, &error), qPrintable(error));
        QCOMPARE(korvana::test::readBytes(QStringLiteral("kadu.db")), "directory");
        QVERIFY(!korvana::enterDataFolder(QStringLiteral("kadu.db"), &error));
        QVERIFY2(error.contains("is not a folder"), qPrintable(error));
        QVERIFY(!korvana::enterDataFolder(QStringLiteral("kadu.db/korvana"), &error)); // even for root
        QVERIFY2(error.contains("cannot create"), qPrintable(error));
        QCOMPARE(QDir::currentPath(), folder);
        QVERIFY(QDir::setCurrent(QDir::tempPath()));
    }

    // The demo tool as the user can start it: beside the program, in the
    // build's tools folder, else by name; a path with blanks quoted.
    void demoTownCommandForAShell()
    {
        QTemporaryDir root;
        const QString folder = root.filePath("my town's data");
        const QString db = "'" + root.path() + "/my town'\\''s data/kadu.db'";
        QCOMPARE(korvana::demoTownCommand(folder, root.filePath("bin")), "korvana-demodata " + db);
        QVERIFY(QDir().mkpath(root.filePath("tools")));
        const QString tool = root.filePath("tools/korvana-demodata");
        QVERIFY(korvana::test::writeBytes(tool, "#!/bin/sh\n"));
        QVERIFY(QFile::setPermissions(tool, QFile::ReadOwner | QFile::ExeOwner));
        QCOMPARE(korvana::demoTownCommand(root.filePath("town"), root.filePath("src")),
                 tool + " " + root.filePath("town/kadu.db"));
    }
};

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
