// korvana-import: copies the directory tables of an Access file (kadu.mdb)
// into a new directory database (kadu.db), or takes a new edition of it into
// an existing one, keeping the personal directory (--update), or loads an
// edition into the office server for its seats (--server).

#include "core/import/mdbimport.h"
#include "core/server/pgconnection.h"
#include "core/server/serveredition.h"
#include "core/server/servernotes.h"

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

// The progress line: on a terminal redrawn in place; in a log only the last
// count is written. `format` takes the count done and the total.
class ProgressLine {
public:
    explicit ProgressLine(QString format) : m_format(std::move(format)) { m_sinceLine.start(); }
    ~ProgressLine()
    {
        if (m_printed && m_tty)
            printErr(QStringLiteral("\n"));
    }
    bool operator()(qint64 done, qint64 total)
    {
        if (done == total || (m_tty && m_sinceLine.elapsed() >= 200)) {
            printErr((m_tty ? QStringLiteral("\r") : QString()) + m_format.arg(done).arg(total)
                     + (m_tty ? QString() : QStringLiteral("\n")));
            m_printed = true;
            m_sinceLine.restart();
        }
        return g_interrupted == 0;
    }

private:
    QString m_format;
    bool m_tty = ::isatty(STDERR_FILENO);
    QElapsedTimer m_sinceLine;
    bool m_printed = false;
};

// --server SERVICE [--from-db] FILE: one edition into the office server.
int loadIntoServer(const QString &service, const QString &file, bool fromDb)
{
    korvana::ServerLoadResult result;
    {
        ProgressLine line(QStringLiteral("Обработано %1 из %2"));
        const auto progress = [&](qint64 done, qint64 total) { return line(done, total); };
        result = fromDb ? korvana::loadServerEditionFromDb(service, file, progress)
                        : korvana::loadServerEditionFromAccess(service, file, progress);
    }
    for (const QString &warning : result.warnings)
        printErr(QStringLiteral("Предупреждение: %1\n").arg(warning));
    if (!result.ok) {
        printErr(QStringLiteral("Ошибка: %1\nНа сервере осталось прежнее издание.\n").arg(result.error));
        return result.cancelled ? 130 : 1;
    }
    const korvana::ServedEdition &e = result.edition;
    std::printf("%s\n", QStringLiteral("Сервер «%1»: издание %2 (%3) загружено: население %4, предприятия %5 строк; "
                                       "SHA-256 %6")
                             .arg(service)
                             .arg(e.id)
                             .arg(e.source.fileName)
                             .arg(e.source.residents)
                             .arg(e.source.enterprises)
                             .arg(QString::fromLatin1(e.imageSha256))
                             .toLocal8Bit()
                             .constData());
    return 0;
}

// --server SERVICE --personal-from kadu.db: a seat's «Мой» entries into the office list.
int addPersonalToServer(const QString &service, const QString &dbPath)
{
    korvana::PgConnection db;
    QString error;
    const int added = db.open(service) ? korvana::addLocalNotes(db, dbPath, korvana::PersonalMode::Shared, &error) : -1;
    if (added < 0) {
        printErr(QStringLiteral("Ошибка: сервер справочника «%1»: %2\nСписок «Мой» на сервере не изменён.\n")
                     .arg(service, error.isEmpty() ? db.error() : error));
        return 1;
    }
    std::printf("%s\n", QStringLiteral("Сервер «%1»: в общий список «Мой» добавлено записей: %2 (уже бывшие там пропущены).")
                             .arg(service)
                             .arg(added)
                             .toLocal8Bit()
                             .constData());
    return 0;
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
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("Загрузить издание на сервер справочника (имя службы из pg_service.conf)."),
                                    QStringLiteral("служба"));
    const QCommandLineOption fromDb(QStringLiteral("from-db"),
                                    QStringLiteral("С --server: взять издание из файла справочника kadu.db, а не из kadu.mdb."));
    const QCommandLineOption personalFrom(QStringLiteral("personal-from"),
                                          QStringLiteral("С --server: добавить записи «Мой» из файла справочника в список сервера."),
                                          QStringLiteral("kadu.db"));
    parser.addOptions({update, force, yes, server, fromDb, personalFrom});
    parser.addPositionalArgument(QStringLiteral("kadu.mdb"), QStringLiteral("Файл Access."));
    parser.addPositionalArgument(QStringLiteral("kadu.db"), QStringLiteral("Файл справочника."));
    parser.process(app);

    // Ctrl+C ends the import through its cancel path, which removes the partial file.
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    const QStringList args = parser.positionalArguments();
    if (parser.isSet(personalFrom)) {
        if (!parser.isSet(server) || !args.isEmpty() || parser.isSet(fromDb) || parser.isSet(update)
            || parser.isSet(force)) {
            printErr(QStringLiteral("Использование: korvana-import --server служба --personal-from kadu.db\n"));
            return 2;
        }
        return addPersonalToServer(parser.value(server), parser.value(personalFrom));
    }
    if (parser.isSet(server) || parser.isSet(fromDb)) {
        if (!parser.isSet(server) || args.size() != 1 || parser.isSet(update) || parser.isSet(force)) {
            printErr(QStringLiteral("Использование: korvana-import --server служба kadu.mdb\n"
                                    "               korvana-import --server служба --from-db kadu.db\n"));
            return 2;
        }
        return loadIntoServer(parser.value(server), args.at(0), parser.isSet(fromDb));
    }
    if (args.size() != 2 || (parser.isSet(update) && parser.isSet(force))) {
        printErr(QStringLiteral("Использование: korvana-import [--force [--yes] | --update] kadu.mdb kadu.db\n"));
        return 2;
    }

    using korvana::ExistingDirectory;
    const ExistingDirectory existing = !parser.isSet(force) ? ExistingDirectory::Refuse
        : parser.isSet(yes)                                 ? ExistingDirectory::Replace
                                                            : ExistingDirectory::ReplaceUnlessPersonal;
    korvana::ImportResult result;
    {
        ProgressLine line(QStringLiteral("Перенесено %1 из %2 строк"));
        const auto progress = [&](qint64 done, qint64 total) { return line(done, total); };
        result = parser.isSet(update) ? korvana::updateFromAccessFile(args.at(0), args.at(1), progress)
                                      : korvana::importAccessFile(args.at(0), args.at(1), progress, existing);
    }
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
