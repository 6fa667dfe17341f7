#pragma once

#include <QString>
#include <QStringList>

// Where the program keeps its files. It looks for kadu.db and its side files
// in the current directory; a program started from a desktop menu gets the
// home folder as that, so the menu entry asks for a folder of its own.
namespace korvana {

struct StartOptions {
    enum class Action { Run, Help, Version };
    Action action = Action::Run;
    // --data-folder was given: change into a data folder before start-up.
    bool enterDataFolder = false;
    // The folder it named; empty means defaultDataFolder().
    QString dataFolder;
    // --server NAME: an office seat on the server of that libpq service.
    QString server;
};

// Reads the program's own options from the raw command line (program name
// first). Anything else is left to Qt and otherwise ignored, as before.
//   --data-folder          the per-user data folder
//   --data-folder=DIR      DIR (also "--data-folder DIR")
//   --server NAME (also "--server=NAME")
//   --help, -h / --version
StartOptions parseStartOptions(const QStringList &arguments);

QString usageText();
QString versionText();

// $XDG_DATA_HOME/korvana, by default ~/.local/share/korvana; empty when the
// system names no data location.
QString defaultDataFolder();

// Creates the folder when missing and makes it the current directory.
// On failure the current directory is left as it was and error says why.
bool enterDataFolder(const QString &folder, QString *error);

// The command that makes a demo town's kadu.db in `folder`, for a shell:
// the demo data tool beside the program in `programDir` (an installed
// package) or in the build's tools folder, else by its bare name; paths
// quoted where a shell would split them.
QString demoTownCommand(const QString &folder, const QString &programDir);

} // namespace korvana
