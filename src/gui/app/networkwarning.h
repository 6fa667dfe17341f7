#pragma once

#include <QByteArray>
#include <QString>

class QSettings;

namespace korvana {

// Warns once that the directory file at dbPath lies in a network folder
// (file system type `type`): several seats must not share it, the office
// server is the way. The path warned about is kept in the settings, so the
// same file is not warned about again. True when the warning was shown.
bool warnOfNetworkFolder(const QString &dbPath, const QByteArray &type, QSettings &settings);

} // namespace korvana
