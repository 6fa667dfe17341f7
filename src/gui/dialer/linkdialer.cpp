#include "gui/dialer/linkdialer.h"

#include "core/dialer/dialattempt.h"
#include "core/dialer/portnames.h"
#include "gui/dialer/qrcodewindow.h"
#include "gui/window/messages.h"

#include <QDesktopServices>
#include <QProcess>
#include <QSettings>
#include <QUrl>

#include <optional>

namespace korvana {

namespace {

const QStringList kBadPrefix = {
    QStringLiteral("Префикс номера в настройках Korvana ([Dial] Prefix) задан неверно."),
    QStringLiteral("Нужны только цифры (не больше 15), в начале может стоять +, например +38044."),
    QStringLiteral("Без модема номер не набирается, пока префикс не исправлен."),
};

// Whether the desktop knows a program for tel: links. Asked first because
// the desktop's opener is started detached: its own failure never comes
// back. Unknown where there is no one to ask.
std::optional<bool> telHandlerRegistered()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/tel")});
    if (!query.waitForStarted(2000))
        return std::nullopt;
    if (!query.waitForFinished(3000)) {
        query.kill();
        query.waitForFinished(500);
        return std::nullopt;
    }
    return !query.readAllStandardOutput().trimmed().isEmpty();
#else
    return std::nullopt;
#endif
}

} // namespace

LinkDialer::LinkDialer(DialerView &view, QWidget *messageParent)
    : m_view(view), m_messageParent(messageParent)
{
}

template<typename F>
auto LinkDialer::withSettings(F read) const
{
    if (m_settings)
        return read(*m_settings);
    const QSettings settings;
    return read(settings);
}

bool LinkDialer::dial()
{
    const int port = m_view.selectedPortIndex() + 1;
    const PortRoad road = withSettings([port](const QSettings &s) { return portRoad(port, s); });
    if (road == PortRoad::Modem)
        return false;
    const QString entry = m_view.commyText();
    const QString linked = number(entry);
    if (linked.isEmpty())
        return true;
    if (road == PortRoad::Telephone) {
        if (!handToTelephone(linked))
            return true;
    } else {
        QrCodeWindow(telLink(linked), linked, entryName(entry), m_messageParent).exec();
    }
    // As after a modem call: the entry joins the my-numbers list.
    remember(entry);
    return true;
}

bool LinkDialer::showQrCode()
{
    const QString entry = m_view.commyText();
    const QString linked = number(entry);
    if (linked.isEmpty())
        return false;
    QrCodeWindow(telLink(linked), linked, entryName(entry), m_messageParent).exec();
    return true;
}

void LinkDialer::checkPrefix()
{
    if (!isValidDialPrefix(withSettings([](const QSettings &s) { return dialPrefix(s); })))
        tell(kBadPrefix);
}

QString LinkDialer::number(const QString &entry)
{
    const LinkNumber n = linkNumber(entry, withSettings([](const QSettings &s) { return dialPrefix(s); }));
    switch (n.problem) {
    case LinkNumber::Problem::None:
        return n.number;
    case LinkNumber::Problem::NoDigits:
        tell({QStringLiteral("Нет номера для набора. Выберите запись с номером.")});
        break;
    case LinkNumber::Problem::NotDigits:
        tell({QStringLiteral("В номере есть знаки, кроме цифр. Такой номер не набирается.")});
        break;
    case LinkNumber::Problem::BadPrefix:
        tell(kBadPrefix);
        break;
    }
    return {};
}

bool LinkDialer::handToTelephone(const QString &number)
{
    const QString link = telLink(number);
    const std::optional<bool> registered = telHandlerRegistered();
    if ((registered && !*registered) || !QDesktopServices::openUrl(QUrl(link))) {
        tell({QStringLiteral("Нет программы для звонков по ссылкам tel:, номер никуда не передан."),
              QStringLiteral("Назначьте её в настройках рабочего стола или командой"),
              QStringLiteral("xdg-mime default ПРОГРАММА.desktop x-scheme-handler/tel (см. README).")});
        return false;
    }
    m_view.setStatusText(QStringLiteral("Передано: ") + link);
    return true;
}

void LinkDialer::remember(const QString &entry)
{
    for (int i = 0, n = m_view.commyCount(); i < n; ++i)
        if (m_view.commyItem(i) == entry)
            return;
    m_view.addCommyItem(entry);
}

void LinkDialer::tell(const QStringList &lines)
{
    showMessage(m_messageParent, lines, MessageIcon::None, MessageButtons::Ok);
}

} // namespace korvana
