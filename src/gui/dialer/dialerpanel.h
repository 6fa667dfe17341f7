#pragma once

#include "core/dialer/dialattempt.h"
#include "gui/dialer/linkdialer.h"

#include <QStringList>
#include <QTimer>

class QWidget;

namespace korvana {

struct DialPanel;

// The dialing and modem panels of the main window as the dialer sees them.
class DialerPanel : public QObject, public DialerView {
    Q_OBJECT
public:
    // Messages are shown over `messageParent`.
    DialerPanel(const DialPanel &panel, QWidget *messageParent, QObject *parent = nullptr);

    DialAttempt &attempt() { return m_attempt; }

    // Where the port mapping and the dial prefix are read (see
    // DialAttempt::setSettings).
    void setSettings(const QSettings *settings);
    // A click on Command2: a port that stands for the desktop's telephone
    // or a QR code takes the link road, every other the modem's.
    void dial();
    // The QR code of the entry in `Commy`, whatever the port.
    void showQrCode();
    // Start-up: a malformed dial prefix is said at once.
    void checkSettings() { m_links.checkPrefix(); }

    int selectedPortIndex() const override;
    int selectedExchangeIndex() const override;
    QString commyText() const override;
    int commyCount() const override;
    QString commyItem(int index) const override;
    void addCommyItem(const QString &text) override;
    QString statusText() const override;
    void setStatusText(const QString &text) override;
    void setCancelVisible(bool visible) override;
    void setDialEnabled(bool enabled) override;
    void beep() override;
    void showDialerMessage(const QString &text) override;

private:
    void showNextStatusLine();

    const DialPanel &m_panel;
    QWidget *m_messageParent;
    DialAttempt m_attempt;
    LinkDialer m_links;
    QString m_statusText;
    QStringList m_statusLines;
    int m_statusLine = 0;
    QTimer m_statusTurn;
};

} // namespace korvana
