#include "gui/dialer/dialerpanel.h"

#include "gui/window/mainwindow.h"
#include "gui/window/messages.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace korvana {

DialerPanel::DialerPanel(const DialPanel &panel, QWidget *messageParent, QObject *parent)
    : QObject(parent), m_panel(panel), m_messageParent(messageParent), m_attempt(*this),
      m_links(*this, messageParent)
{
    connect(panel.dial, &QPushButton::clicked, this, &DialerPanel::dial);
    connect(panel.cancel, &QPushButton::clicked, &m_attempt, &DialAttempt::cancel);
}

void DialerPanel::setSettings(const QSettings *settings)
{
    m_attempt.setSettings(settings);
    m_links.setSettings(settings);
}

void DialerPanel::dial()
{
    // The link road is decided before any serial port is touched; while a
    // modem attempt waits, no other request starts.
    if (m_attempt.isRunning() || !m_links.dial())
        m_attempt.dial();
}

void DialerPanel::showQrCode()
{
    m_links.showQrCode();
}

int DialerPanel::selectedPortIndex() const { return m_panel.port->currentIndex(); }
int DialerPanel::selectedExchangeIndex() const { return m_panel.exchange->currentIndex(); }
QString DialerPanel::commyText() const { return m_panel.commy->currentText(); }
int DialerPanel::commyCount() const { return m_panel.commy->count(); }
QString DialerPanel::commyItem(int index) const { return m_panel.commy->itemText(index); }

void DialerPanel::addCommyItem(const QString &text)
{
    // Adding an item must not replace what the box shows.
    const QString shown = m_panel.commy->currentText();
    m_panel.commy->addItem(text);
    m_panel.commy->setEditText(shown);
}

QString DialerPanel::statusText() const { return m_panel.status->text(); }
void DialerPanel::setStatusText(const QString &text) { m_panel.status->setText(text); }
void DialerPanel::setCancelVisible(bool visible) { m_panel.cancel->setVisible(visible); }
void DialerPanel::setDialEnabled(bool enabled) { m_panel.dial->setEnabled(enabled); }
void DialerPanel::beep() { QApplication::beep(); }

void DialerPanel::showDialerMessage(const QString &text)
{
    showMessage(m_messageParent, {text}, MessageIcon::None, MessageButtons::Ok);
}

} // namespace korvana
