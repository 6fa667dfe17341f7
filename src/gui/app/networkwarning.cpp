#include "gui/app/networkwarning.h"

#include "core/app/networkfolder.h"
#include "gui/window/messages.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace korvana {

namespace {

const QString kWarnedKey = QStringLiteral("Warnings/NetworkFolder");

} // namespace

bool warnOfNetworkFolder(const QString &dbPath, const QByteArray &type, QSettings &settings)
{
    const QString path = QFileInfo(dbPath).absoluteFilePath();
    if (!isNetworkFilesystemType(type) || settings.value(kWarnedKey).toString() == path)
        return false;
    showMessage(nullptr,
                {QStringLiteral("Файл справочника лежит в сетевой папке (%1):").arg(QString::fromLatin1(type)),
                 QDir::toNativeSeparators(path),
                 QStringLiteral("Если с ним работают несколько рабочих мест, файл может быть испорчен."),
                 QStringLiteral("Для нескольких рабочих мест используйте сервер справочника:"),
                 QStringLiteral("README, раздел «An office on one server»."),
                 QStringLiteral("Нажмите <Enter> или <OK>")},
                MessageIcon::None, MessageButtons::Ok);
    settings.setValue(kWarnedKey, path);
    settings.sync();
    return true;
}

} // namespace korvana
