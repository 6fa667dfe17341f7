#pragma once

#include "core/dialer/dialattempt.h"

class QAbstractButton;
class QComboBox;
class QLabel;
class QWidget;

namespace korvana {

// The dialing and modem panels of the main window as the dialer sees them.
class DialerPanel : public QObject, public DialerView {
    Q_OBJECT
public:
    explicit DialerPanel(QWidget *window, QObject *parent = nullptr);

    DialAttempt &attempt() { return m_attempt; }

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
    QWidget *m_window;
    QComboBox *m_port;
    QComboBox *m_exchange;
    QComboBox *m_commy;
    QLabel *m_status;
    QAbstractButton *m_dial;
    QAbstractButton *m_cancel;
    DialAttempt m_attempt;
};

} // namespace korvana
