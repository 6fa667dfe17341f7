#include "app/appcontroller.h"

#include <QApplication>
#include <QDir>
#include <QSettings>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Korvana"));
    QApplication::setApplicationName(QStringLiteral("Korvana"));
    QSettings settings;
    // The directory and its side files are found in the current directory.
    korvana::AppController controller(QDir::currentPath(), &settings);
    controller.start();
    return app.exec();
}
