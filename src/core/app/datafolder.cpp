#include "core/app/datafolder.h"

#include <QDir>
#include <QRegularExpression>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef KORVANA_VERSION
#define KORVANA_VERSION "unknown"
#endif

namespace korvana {

namespace {
const QString kDataFolderOption = QStringLiteral("--data-folder");
}

StartOptions parseStartOptions(const QStringList &arguments)
{
    StartOptions options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.action = StartOptions::Action::Help;
        } else if (arg == QLatin1String("--version")) {
            if (options.action == StartOptions::Action::Run)
                options.action = StartOptions::Action::Version;
        } else if (arg == kDataFolderOption) {
            options.enterDataFolder = true;
            options.dataFolder.clear();
            // The program takes no other plain arguments, and Qt's own
            // values follow Qt's own options, so a plain word right after
            // the option can only be the folder the user meant.
            if (i + 1 < arguments.size() && !arguments.at(i + 1).startsWith(u'-'))
                options.dataFolder = arguments.at(++i);
        } else if (arg.startsWith(kDataFolderOption + u'=')) {
            options.enterDataFolder = true;
            options.dataFolder = arg.mid(kDataFolderOption.size() + 1);
        } else if (arg == QLatin1String("--server") && i + 1 < arguments.size()) {
            options.server = arguments.at(++i);
        } else if (arg.startsWith(QLatin1String("--server="))) {
            options.server = arg.mid(9);
        }
    }
    return options;
}

QString usageText()
{
    return QStringLiteral(
        "Usage: korvana [--data-folder[=DIR]] [--server NAME]\n"
        "\n"
        "Telephone directory of the town with dialing through a modem.\n"
        "The directory kadu.db and the files kadumy.txt and WGridCol.txt are\n"
        "kept in the current directory.\n"
        "\n"
        "  --data-folder[=DIR]  work in DIR instead, creating it when missing;\n"
        "                       without DIR: $XDG_DATA_HOME/korvana\n"
        "                       (~/.local/share/korvana)\n"
        "  --server NAME        an office seat: take the directory from the\n"
        "                       server of the libpq service NAME (pg_service.conf);\n"
        "                       also [Server] Service=NAME in the settings\n"
        "  -h, --help           show this text\n"
        "  --version            show the version\n");
}

QString versionText()
{
    return QStringLiteral("korvana " KORVANA_VERSION "\n"
                          "Copyright (C) 2026 The Korvana developers\n"
                          "License GPL-3.0-or-later: GNU GPL version 3 or later\n"
                          "<https://www.gnu.org/licenses/gpl-3.0.html>.\n"
                          "This is free software: you are free to change and redistribute it.\n"
                          "There is NO WARRANTY, to the extent permitted by law.\n");
}

QString defaultDataFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    return QDir(base).filePath(QStringLiteral("korvana"));
}

bool enterDataFolder(const QString &folder, QString *error)
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (folder.isEmpty())
        return fail(QStringLiteral("no data folder: the system names no data location"));
    const QString absolute = QDir::current().absoluteFilePath(folder);
    const QFileInfo info(absolute);
    if (info.exists() && !info.isDir())
        return fail(QStringLiteral("%1 is not a folder").arg(absolute));
    if (!QDir().mkpath(absolute))
        return fail(QStringLiteral("cannot create the data folder %1").arg(absolute));
    if (!QDir::setCurrent(absolute))
        return fail(QStringLiteral("cannot enter the data folder %1").arg(absolute));
    return true;
}

namespace {

QString shellWord(const QString &text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./~+=:,-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

QString demoTownCommand(const QString &folder, const QString &programDir)
{
    const QString tool = QStringLiteral("korvana-demodata");
    QString program = tool;
    const QDir dir(programDir);
    for (const QString &relative : {tool, QStringLiteral("../tools/") + tool}) {
        const QString candidate = QDir::cleanPath(dir.filePath(relative));
        if (!programDir.isEmpty() && QFileInfo(candidate).isExecutable()) {
            program = candidate;
            break;
        }
    }
    return shellWord(QDir::toNativeSeparators(program)) + QLatin1Char(' ')
           + shellWord(QDir::toNativeSeparators(QDir(folder).filePath(QStringLiteral("kadu.db"))));
}

} // namespace korvana
