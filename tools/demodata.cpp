// korvana-demodata: writes a directory file of a fictional town for demos
// and benchmarks. The same arguments always give the same file.

#include "demotown/demotown.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>

using namespace korvana;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvana-demodata"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a directory database of a fictional town."));
    parser.addHelpOption();
    const QCommandLineOption residents(QStringLiteral("residents"),
                                       QStringLiteral("Number of residents (default 30000)."),
                                       QStringLiteral("N"), QStringLiteral("30000"));
    const QCommandLineOption enterprises(QStringLiteral("enterprises"),
                                         QStringLiteral("Number of enterprise lines (default 1500)."),
                                         QStringLiteral("M"), QStringLiteral("1500"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Seed of the town (default 1)."),
                                  QStringLiteral("S"), QStringLiteral("1"));
    const QCommandLineOption force(QStringLiteral("force"),
                                   QStringLiteral("Replace an existing output file."));
    parser.addOptions({residents, enterprises, seed, force});
    parser.addPositionalArgument(QStringLiteral("output.db"), QStringLiteral("File to write."));
    parser.process(app);

    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        std::fprintf(stderr, "korvana-demodata: give exactly one output file\n\n");
        parser.showHelp(2);
    }

    DemoTownOptions options;
    bool okResidents = false, okEnterprises = false, okSeed = false;
    options.residents = parser.value(residents).toLongLong(&okResidents);
    options.enterprises = parser.value(enterprises).toLongLong(&okEnterprises);
    options.seed = parser.value(seed).toULongLong(&okSeed);
    options.overwrite = parser.isSet(force);
    if (!okResidents || !okEnterprises || !okSeed || options.residents < 0
        || options.enterprises < 0) {
        std::fprintf(stderr, "korvana-demodata: counts and seed must be whole numbers >= 0\n");
        return 2;
    }

    QElapsedTimer timer;
    timer.start();
    QString error;
    if (!writeDemoTown(files.first(), options, &error)) {
        std::fprintf(stderr, "korvana-demodata: %s%s\n", qPrintable(error),
                     error.endsWith(QLatin1String("already exists")) ? " (use --force to replace it)"
                                                                     : "");
        return 1;
    }
    std::printf("%s: %lld residents, %lld enterprise lines, seed %llu; %lld bytes in %.1f s\n",
                qPrintable(files.first()), static_cast<long long>(options.residents),
                static_cast<long long>(options.enterprises),
                static_cast<unsigned long long>(options.seed),
                static_cast<long long>(QFileInfo(files.first()).size()),
                double(timer.elapsed()) / 1000.0);
    return 0;
}
