#include "gui/dialer/dialerpanel.h"

#include "gui/window/messages.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>

namespace korvana {

DialerPanel::DialerPanel(QWidget *window, QObject *parent)
    : QObject(parent),
      m_window(window),
      m_port(window->findChild<QComboBox *>(QStringLiteral("cboPort"))),
      m_exchange(window->findChild<QComboBox *>(QStringLiteral("ATC"))),
      m_commy(window->findChild<QComboBox *>(QStringLiteral("Commy"))),
      m_status(window->findChild<QLabel *>(QStringLiteral("Status"))),
      m_dial(window->findChild<QAbstractButton *>(QStringLiteral("Command2"))),
      m_cancel(window->findChild<QAbstractButton *>(QStringLiteral("Command3"))),
      m_attempt(*this)
{
    connect(m_dial, &QAbstractButton::clicked, this, [this] { m_attempt.dial(); });
    connect(m_cancel, &QAbstractButton::clicked, &m_attempt, &DialAttempt::cancel);
}

int DialerPanel::selectedPortIndex() const { return m_port->currentIndex(); }
int DialerPanel::selectedExchangeIndex() const { return m_exchange->currentIndex(); }
QString DialerPanel::commyText() const { return m_commy->currentText(); }
int DialerPanel::commyCount() const { return m_commy->count(); }
QString DialerPanel::commyItem(int index) const { return m_commy->itemText(index); }

void DialerPanel::addCommyItem(const QString &text)
{
    // Adding an item must not replace what the box shows.
    const QString shown = m_commy->currentText();
    m_commy->addItem(text);
    m_commy->setEditText(shown);
}

QString DialerPanel::statusText() const { return m_status->text(); }
void DialerPanel::setStatusText(const QString &text) { m_status->setText(text); }
void DialerPanel::setCancelVisible(bool visible) { m_cancel->setVisible(visible); }
void DialerPanel::setDialEnabled(bool enabled) { m_dial->setEnabled(enabled); }
void DialerPanel::beep() { QApplication::beep(); }

void DialerPanel::showDialerMessage(const QString &text)
{
    showMessage(m_window, {text}, MessageIcon::None, MessageButtons::Ok);
}

} // namespace korvana
