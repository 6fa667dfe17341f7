#include "core/app/datafolder.h"
#include "gui/app/appcontroller.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QTranslator>

#include <cstdio>

int main(int argc, char **argv)
{
    // Read before Qt starts, so that --help works without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const korvana::StartOptions options = korvana::parseStartOptions(arguments);
    if (options.action != korvana::StartOptions::Action::Run) {
        const QString text = options.action == korvana::StartOptions::Action::Help
                                 ? korvana::usageText()
                                 : korvana::versionText();
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (options.enterDataFolder) {
        const QString folder = options.dataFolder.isEmpty() ? korvana::defaultDataFolder()
                                                            : options.dataFolder;
        QString error;
        // On failure the program still starts, in the current directory;
        // its missing-directory message then names the folder it looked in.
        if (!korvana::enterDataFolder(folder, &error))
            std::fprintf(stderr, "korvana: %s\n", error.toLocal8Bit().constData());
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Korvana"));
    QApplication::setApplicationName(QStringLiteral("Korvana"));
    // Qt's own texts (the fields' context menus, standard buttons) in the
    // program's language, when Qt's translations are installed.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    // The name of the installed menu entry, so the window is matched to it.
    QGuiApplication::setDesktopFileName(QStringLiteral(KORVANA_DESKTOP_ID));
    QSettings settings;
    // The directory and its side files are found in the current directory.
    korvana::AppController controller(QDir::currentPath(), &settings);
    controller.setOfficeService(options.server);
    controller.start();
    return app.exec();
}
