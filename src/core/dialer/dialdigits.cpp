#include "core/dialer/dialdigits.h"

#include "core/store/textfold.h"

namespace korvana {

QString dialNumber(const QString &commyText)
{
    return trimBlanks(commyText).left(5);
}

QString dialDigits(const QString &number, int exchangeIndex)
{
    const QString first = number.left(1);
    const QString lastFour = number.right(4);
    if (exchangeIndex == DaziVireExchange) {
        if (first == u"9")
            return QStringLiteral(",,") + lastFour;
        return QStringLiteral(",,9,") + first + u',' + lastFour;
    }
    return QStringLiteral(",,") + first + u',' + lastFour;
}

QByteArray dialCommand(const QString &digits)
{
    QByteArray command("ATDP");
    for (const QChar c : digits) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F)
            command.append(char(u));
    }
    command.append(";\r");
    return command;
}

QByteArray hangUpCommand()
{
    return QByteArrayLiteral("ATH\r");
}

} // namespace korvana
