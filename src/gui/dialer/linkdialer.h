#pragma once

#include <QString>

class QSettings;
class QWidget;

namespace korvana {

class DialerView;

// Dialing without a modem: when the chosen port stands for the desktop's
// telephone ("tel:") or for a QR code ("qr:"), the entry of `Commy` is
// handed on as a tel: link instead; no serial port is touched.
class LinkDialer {
public:
    // Messages and the QR window are shown over `messageParent`.
    LinkDialer(DialerView &view, QWidget *messageParent);

    // Where [Ports] and [Dial] are read; null reads the application's
    // settings store. Not owned.
    void setSettings(const QSettings *settings) { m_settings = settings; }

    // A click on Command2: true when the chosen port is no modem and the
    // request has been dealt with here (handed on, shown, or refused with a
    // message); false leaves it to the modem.
    bool dial();
    // The QR code of `Commy`'s entry whatever the port; false when refused
    // with a message.
    bool showQrCode();
    // At start: a malformed prefix is said at once, not at the first call.
    void checkPrefix();

private:
    // The link number of `Commy`'s entry, or empty after a message.
    QString number(const QString &entry);
    bool handToTelephone(const QString &number);
    void remember(const QString &entry);
    void tell(const QStringList &lines);
    template<typename F>
    auto withSettings(F read) const;

    DialerView &m_view;
    QWidget *m_messageParent;
    const QSettings *m_settings = nullptr;
};

} // namespace korvana
