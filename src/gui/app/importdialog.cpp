#include "gui/app/importdialog.h"

#include "core/import/mdbimport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProgressDialog>

#include <functional>
#include <limits>

namespace korvana {

namespace {

using Operation = std::function<ImportResult(const ImportProgress &)>;

bool runWithProgress(QWidget *parent, const QString &mdbPath, const Operation &operation,
                     QString *error, QStringList *warnings)
{
    QProgressDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Korvana"));
    dialog.setLabelText(QStringLiteral("Перенос справочника из файла %1")
                            .arg(QDir::toNativeSeparators(mdbPath)));
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
            dialog.setLabelText(QStringLiteral("Перенос справочника из файла %1\nПеренесено %2 из %3 строк")
                                    .arg(QDir::toNativeSeparators(mdbPath))
                                    .arg(done)
                                    .arg(total));
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
        parent, mdbPath,
        [&](const ImportProgress &progress) { return importAccessFile(mdbPath, dbPath, progress); },
        error, warnings);
}

bool updateFromAccessFileWithProgress(QWidget *parent, const QString &mdbPath, const QString &dbPath,
                                      QString *error, QStringList *warnings)
{
    return runWithProgress(
        parent, mdbPath,
        [&](const ImportProgress &progress) { return updateFromAccessFile(mdbPath, dbPath, progress); },
        error, warnings);
}

} // namespace korvana
