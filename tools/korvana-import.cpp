// korvana-import: copies the directory tables of an Access file (kadu.mdb)
// into a new directory database (kadu.db), or takes a new edition of it into
// an existing one, keeping the personal directory (--update).

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
    const QCommandLineOption update(QStringList{QStringLiteral("u"), QStringLiteral("update")},
                                    QStringLiteral("Обновить существующий файл справочника новым изданием: "
                                                   "«Население» и «Предприятия» заменяются, «Мой» сохраняется."));
    const QCommandLineOption force(QStringList{QStringLiteral("f"), QStringLiteral("force")},
                                   QStringLiteral("Заменить существующий файл справочника целиком."));
    const QCommandLineOption yes(QStringList{QStringLiteral("y"), QStringLiteral("yes")},
                                 QStringLiteral("С --force: заменить файл, даже если в нём есть записи «Мой»."));
    parser.addOptions({update, force, yes});
    parser.addPositionalArgument(QStringLiteral("kadu.mdb"), QStringLiteral("Файл Access."));
    parser.addPositionalArgument(QStringLiteral("kadu.db"), QStringLiteral("Файл справочника."));
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.size() != 2 || (parser.isSet(update) && parser.isSet(force))) {
        printErr(QStringLiteral("Использование: korvana-import [--force [--yes] | --update] kadu.mdb kadu.db\n"));
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

    using korvana::ExistingDirectory;
    const ExistingDirectory existing = !parser.isSet(force) ? ExistingDirectory::Refuse
        : parser.isSet(yes)                                 ? ExistingDirectory::Replace
                                                            : ExistingDirectory::ReplaceUnlessPersonal;
    const korvana::ImportResult result = parser.isSet(update)
        ? korvana::updateFromAccessFile(args.at(0), args.at(1), progress)
        : korvana::importAccessFile(args.at(0), args.at(1), progress, existing);
    if (printed && tty)
        printErr(QStringLiteral("\n"));
    for (const QString &warning : result.warnings)
        printErr(QStringLiteral("Предупреждение: %1\n").arg(warning));
    if (!result.ok) {
        printErr(QStringLiteral("Ошибка: %1\n").arg(result.error));
        if (existing == ExistingDirectory::ReplaceUnlessPersonal && result.personalDropped > 0)
            printErr(QStringLiteral("--update обновит справочник, сохранив их; --force --yes заменит файл без них.\n"));
        return result.cancelled ? 130 : 1;
    }
    const QString summary = result.unchanged
        ? QStringLiteral("%1 уже содержит это издание (его перенесла другая программа): файл не изменён").arg(args.at(1))
        : parser.isSet(update)
        ? QStringLiteral("%1: население %2, предприятия %3 строк; справочник «Мой»: сохранено %4, добавлено %5")
              .arg(args.at(1))
              .arg(result.residents)
              .arg(result.enterprises)
              .arg(result.personalKept)
              .arg(result.personalAdded)
        : QStringLiteral("%1: население %2, предприятия %3, личный справочник %4 строк")
              .arg(args.at(1))
              .arg(result.residents)
              .arg(result.enterprises)
              .arg(result.personal);
    std::printf("%s\n", summary.toLocal8Bit().constData());
    return 0;
}
