#include "gui/app/importdialog.h"

#include "core/import/mdbimport.h"
#include "core/server/pgconnection.h"
#include "core/server/serveredition.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProgressDialog>

#include <functional>
#include <limits>

namespace korvana {

namespace {

using Operation = std::function<ImportResult(const ImportProgress &)>;
// The dialog's text for `done` of `total`.
using Label = std::function<QString(qint64 done, qint64 total)>;

Label rowsFrom(const QString &mdbPath)
{
    return [mdbPath](qint64 done, qint64 total) {
        const QString head = QStringLiteral("Перенос справочника из файла %1").arg(QDir::toNativeSeparators(mdbPath));
        return done == 0 && total == 0 ? head
                                       : head + QStringLiteral("\nПеренесено %1 из %2 строк").arg(done).arg(total);
    };
}

bool runWithProgress(QWidget *parent, const Label &label, const Operation &operation,
                     QString *error, QStringList *warnings)
{
    QProgressDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Korvana"));
    dialog.setLabelText(label(0, 0));
    dialog.setCancelButtonText(QStringLiteral("Отмена"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setRange(0, 0);
    dialog.show();
    QCoreApplication::processEvents();

    QElapsedTimer sinceRedraw;
    sinceRedraw.start();
    const auto progress = [&](qint64 done, qint64 total) {
        // Redrawing for every call would slow a large import; a few times a
        // second is enough to look alive, while events are always processed.
        if (done == 0 || done == total || sinceRedraw.elapsed() >= 100) {
            constexpr qint64 maxInt = std::numeric_limits<int>::max();
            // QProgressDialog counts in int; scale down if a file ever exceeds it.
            const qint64 scale = total > maxInt ? total / maxInt + 1 : 1;
            dialog.setMaximum(int(total / scale));
            dialog.setValue(int(done / scale));
            dialog.setLabelText(label(done, total));
            sinceRedraw.restart();
        }
        QCoreApplication::processEvents();
        return !dialog.wasCanceled();
    };

    const ImportResult result = operation(progress);
    dialog.close();
    if (error)
        *error = result.ok ? QString() : result.error;
    if (warnings)
        *warnings = result.warnings;
    return result.ok;
}

} // namespace

bool importAccessFileWithProgress(QWidget *parent, const QString &mdbPath, const QString &dbPath,
                                  QString *error, QStringList *warnings)
{
    return runWithProgress(
        parent, rowsFrom(mdbPath),
        [&](const ImportProgress &progress) { return importAccessFile(mdbPath, dbPath, progress); },
        error, warnings);
}

bool updateFromAccessFileWithProgress(QWidget *parent, const QString &mdbPath, const QString &dbPath,
                                      QString *error, QStringList *warnings)
{
    return runWithProgress(
        parent, rowsFrom(mdbPath),
        [&](const ImportProgress &progress) { return updateFromAccessFile(mdbPath, dbPath, progress); },
        error, warnings);
}

bool fetchServedEditionWithProgress(QWidget *parent, PgConnection &db, const QString &copyPath,
                                    QString *error, bool *cancelled)
{
    const QString service = db.service();
    const auto label = [service](qint64 done, qint64 total) {
        const QString head = QStringLiteral("Получение справочника с сервера «%1»").arg(service);
        return total == 0 ? head
                          : head + QStringLiteral("\nПолучено %1 из %2 МБ").arg(done >> 20).arg((total + (1 << 20) - 1) >> 20);
    };
    bool wasCancelled = false;
    const bool ok = runWithProgress(
        parent, label,
        [&](const ImportProgress &progress) {
            const FetchResult fetched = fetchServedEdition(db, copyPath, progress);
            wasCancelled = fetched.cancelled;
            ImportResult result;
            result.ok = fetched.ok;
            result.cancelled = fetched.cancelled;
            result.error = fetched.error;
            return result;
        },
        error, nullptr);
    if (cancelled)
        *cancelled = wasCancelled;
    return ok;
}

} // namespace korvana
