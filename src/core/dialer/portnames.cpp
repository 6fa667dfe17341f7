#include "core/dialer/portnames.h"

#include <QSettings>

namespace korvana {

QString defaultPortDevice(int portNumber)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNumber);
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}

QString portDevice(int portNumber, const QSettings &settings)
{
    const QString key = QStringLiteral("Ports/Com%1").arg(portNumber);
    const QString mapped = settings.value(key).toString().trimmed();
    return mapped.isEmpty() ? defaultPortDevice(portNumber) : mapped;
}

QString portDevice(int portNumber)
{
    const QSettings settings;
    return portDevice(portNumber, settings);
}

} // namespace korvana
