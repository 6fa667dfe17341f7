// korvana-import: copies the directory tables of an Access file (kadu.mdb)
// into a new directory database (kadu.db).

#include "core/import/mdbimport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <csignal>
#include <cstdio>

#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void onSignal(int) { g_interrupted = 1; }

void printErr(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvana-import"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Переносит справочники (таблицы NASELEN, PREDPR, Note) из файла Access в новый файл справочника."));
    parser.addHelpOption();
    const QCommandLineOption force(QStringList{QStringLiteral("f"), QStringLiteral("force")},
                                   QStringLiteral("Заменить существующий файл справочника."));
    parser.addOption(force);
    parser.addPositionalArgument(QStringLiteral("kadu.mdb"), QStringLiteral("Файл Access."));
    parser.addPositionalArgument(QStringLiteral("kadu.db"), QStringLiteral("Новый файл справочника."));
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.size() != 2) {
        printErr(QStringLiteral("Использование: korvana-import [--force] kadu.mdb kadu.db\n"));
        return 2;
    }

    // Ctrl+C ends the import through its cancel path, which removes the partial file.
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    const bool tty = ::isatty(STDERR_FILENO);
    QElapsedTimer sinceLine;
    sinceLine.start();
    bool printed = false;
    const auto progress = [&](qint64 done, qint64 total) {
        // On a terminal the line is redrawn in place; in a log only the last count is written.
        if (done == total || (tty && sinceLine.elapsed() >= 200)) {
            printErr(QStringLiteral("%1Перенесено %2 из %3 строк")
                         .arg(tty ? QStringLiteral("\r") : QString())
                         .arg(done)
                         .arg(total)
                     + (tty ? QString() : QStringLiteral("\n")));
            printed = true;
            sinceLine.restart();
        }
        return g_interrupted == 0;
    };

    const korvana::ImportResult result =
        korvana::importAccessFile(args.at(0), args.at(1), progress, parser.isSet(force));
    if (printed && tty)
        printErr(QStringLiteral("\n"));
    for (const QString &warning : result.warnings)
        printErr(QStringLiteral("Предупреждение: %1\n").arg(warning));
    if (!result.ok) {
        printErr(QStringLiteral("Ошибка: %1\n").arg(result.error));
        return result.cancelled ? 130 : 1;
    }
    std::printf("%s\n",
                QStringLiteral("%1: население %2, предприятия %3, личный справочник %4 строк")
                    .arg(args.at(1))
                    .arg(result.residents)
                    .arg(result.enterprises)
                    .arg(result.personal)
                    .toLocal8Bit()
                    .constData());
    return 0;
}
