#include "core/dialer/portnames.h"

#include "core/dialer/dialdigits.h"
#include "core/store/textfold.h"

#include <QRegularExpression>
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

PortRoad portRoad(int portNumber, const QSettings &settings)
{
    const QString mapped = settings.value(QStringLiteral("Ports/Com%1").arg(portNumber)).toString().trimmed();
    if (mapped.compare(u"tel:", Qt::CaseInsensitive) == 0)
        return PortRoad::Telephone;
    if (mapped.compare(u"qr:", Qt::CaseInsensitive) == 0)
        return PortRoad::QrCode;
    return PortRoad::Modem;
}

QString dialPrefix(const QSettings &settings)
{
    return settings.value(QStringLiteral("Dial/Prefix")).toString().trimmed();
}

bool isValidDialPrefix(const QString &prefix)
{
    static const QRegularExpression form(QRegularExpression::anchoredPattern(u"\\+?[0-9]{1,15}"));
    return prefix.isEmpty() || form.match(prefix).hasMatch();
}

LinkNumber linkNumber(const QString &commyText, const QString &prefix)
{
    LinkNumber out;
    if (!isValidDialPrefix(prefix)) {
        out.problem = LinkNumber::Problem::BadPrefix;
        return out;
    }
    QString digits;
    bool other = false;
    for (const QChar c : dialNumber(commyText)) {
        if (c >= u'0' && c <= u'9')
            digits += c;
        else if (c != u' ' && c != u'-')
            other = true;
    }
    // A letter or a control character would make the link mean another
    // number, or none: refuse rather than drop it.
    if (digits.isEmpty())
        out.problem = LinkNumber::Problem::NoDigits;
    else if (other)
        out.problem = LinkNumber::Problem::NotDigits;
    else
        out.number = prefix + digits;
    return out;
}

QString telLink(const QString &number)
{
    return QStringLiteral("tel:") + number;
}

QString entryName(const QString &commyText)
{
    const QString text = trimBlanks(commyText);
    qsizetype i = dialNumber(text).size();
    while (i < text.size() && text.at(i) != u' ')
        ++i;
    return trimBlanks(text.mid(i));
}

} // namespace korvana
