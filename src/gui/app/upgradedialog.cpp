#include "gui/app/upgradedialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProgressDialog>

namespace korvana {

std::unique_ptr<Store> openStoreWithProgress(QWidget *parent, const QString &path,
                                             Store::OpenStatus *status, QString *error, int quietMs)
{
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProgressDialog> dialog;
    const auto progress = [&](qint64 done, qint64 total) {
        if (!dialog && clock.elapsed() >= quietMs) {
            dialog = std::make_unique<QProgressDialog>(parent);
            dialog->setWindowTitle(QStringLiteral("Korvana"));
            dialog->setLabelText(QStringLiteral("Подготовка справочника %1 к поиску.\nЭто делается один раз.")
                                     .arg(QDir::toNativeSeparators(path)));
            // Stopping half way would leave nothing to search.
            dialog->setCancelButton(nullptr);
            dialog->setWindowModality(Qt::ApplicationModal);
            dialog->setMinimumDuration(0);
            dialog->setAutoClose(false);
            dialog->setAutoReset(false);
            dialog->setRange(0, 1000);
            dialog->show();
        }
        if (dialog)
            dialog->setValue(int(done * 1000 / std::max<qint64>(total, 1)));
        QCoreApplication::processEvents();
    };
    return Store::open(path, status, error, progress);
}

} // namespace korvana
