#include "core/window/titlescroll.h"

namespace korvana {

QString advertisingCaption()
{
    return QStringLiteral(
        "Справочник «Корвана» — весь город Краснозорск у вас на экране! Номер, фамилия, улица, дом: "
        "найдёте за секунду, наберёте через модем одним щелчком. Спрашивайте у дилера «Телеком-Сервис», "
        "ул. Садовая, 12, тел. 2-14-85. Скидки для всех предприятий!     ");
}

QString scrollCaption(const QString &caption)
{
    if (caption.size() < 2)
        return caption;
    const qsizetype head = caption.at(0).isHighSurrogate() && caption.at(1).isLowSurrogate() ? 2 : 1;
    if (head == caption.size())
        return caption;
    return caption.mid(head) + caption.left(head);
}

} // namespace korvana
