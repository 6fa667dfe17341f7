#include "gui/app/opendatabase.h"

#include "core/app/datafolder.h"
#include "core/store/store.h"
#include "gui/app/editionprompt.h"
#include "gui/app/importdialog.h"
#include "gui/app/upgradedialog.h"
#include "gui/window/messages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace korvana {

namespace {

const QString kPressEnter = QStringLiteral("Нажмите <Enter> или <OK>");
const QString kDatabaseName = QStringLiteral("kadu.db");
const QString kAccessName = QStringLiteral("kadu.mdb");

} // namespace

std::unique_ptr<Store> openDirectoryFile(const QString &folder)
{
    const QDir dir(folder);
    const QString dbPath = dir.filePath(kDatabaseName);
    const QString mdbPath = dir.filePath(kAccessName);
    offerNewEdition(mdbPath, dbPath);
    const QString folderLine = QStringLiteral("Папка: ") + QDir::toNativeSeparators(folder);
    if (!QFileInfo::exists(dbPath) && QFileInfo(mdbPath).isFile()) {
        QString error;
        QStringList warnings;
        if (!importAccessFileWithProgress(nullptr, mdbPath, dbPath, &error, &warnings))
            showMessage(nullptr, {error, kPressEnter}, MessageIcon::Critical, MessageButtons::Ok);
        else if (!warnings.isEmpty())
            showMessage(nullptr, warnings + QStringList{kPressEnter}, MessageIcon::None,
                        MessageButtons::Ok);
    }

    Store::OpenStatus status = Store::OpenStatus::Ok;
    QString error;
    std::unique_ptr<Store> store = openStoreWithProgress(nullptr, dbPath, &status, &error);
    if (store)
        return store;
    QStringList lines;
    switch (status) {
    case Store::OpenStatus::Missing:
        lines = {QStringLiteral("Не найден файл справочника kadu.db."),
                 QStringLiteral("Положите справочник города kadu.mdb (или готовый kadu.db) в эту папку:"),
                 QDir::toNativeSeparators(folder),
                 QStringLiteral("Демонстрационный город делает команда:"),
                 demoTownCommand(folder, QCoreApplication::applicationDirPath())};
        break;
    case Store::OpenStatus::NotADatabase:
        lines = {QStringLiteral("Файл kadu.db не является базой справочника."), folderLine};
        break;
    default:
        lines = {QStringLiteral("Не удалось открыть файл справочника kadu.db:"), error, folderLine};
        break;
    }
    lines << QStringLiteral("Справочники будут пустыми.") << kPressEnter;
    showMessage(nullptr, lines, MessageIcon::Critical, MessageButtons::Ok);
    return nullptr;
}

} // namespace korvana
