#include "gui/app/editionprompt.h"

#include "core/import/edition.h"
#include "gui/app/importdialog.h"
#include "gui/window/messages.h"

#include <QFileInfo>

namespace korvana {

void offerNewEdition(const QString &mdbPath, const QString &dbPath)
{
    const EditionOffer offer = newEditionOffer(mdbPath, dbPath);
    if (!offer.offer)
        return;
    const QStringList question = {
        QStringLiteral("Найден новый справочник: файл %1 от %2.")
            .arg(QFileInfo(mdbPath).fileName(), offer.modified.toString(QStringLiteral("dd.MM.yyyy"))),
        QStringLiteral("Обновить справочники «Население» и «Предприятия»?"),
        QStringLiteral("Ваш справочник «Мой» сохранится."),
    };
    if (showMessage(nullptr, question, MessageIcon::None, MessageButtons::YesNo) != MessageAnswer::Yes) {
        // A directory file that cannot record the answer asks again next time.
        recordDeclinedEdition(mdbPath, dbPath);
        return;
    }
    const QString pressEnter = QStringLiteral("Нажмите <Enter> или <OK>");
    QString error;
    QStringList warnings;
    if (!updateFromAccessFileWithProgress(nullptr, mdbPath, dbPath, &error, &warnings))
        showMessage(nullptr, {error, QStringLiteral("Справочник остался прежним."), pressEnter},
                    MessageIcon::Critical, MessageButtons::Ok);
    else if (!warnings.isEmpty())
        showMessage(nullptr, warnings + QStringList{pressEnter}, MessageIcon::None, MessageButtons::Ok);
}

} // namespace korvana
