#include "core/dialer/dialattempt.h"

#include "core/dialer/dialdigits.h"
#include "core/dialer/portnames.h"

#include <QEventLoop>
#include <QPointer>
#include <QSettings>

namespace korvana {

namespace {

// Bounds the hang-up write before close on a port that does not drain
// (a wedged driver must not freeze the window for long).
constexpr int HangUpWriteMs = 500;

} // namespace

DialAttempt::DialAttempt(DialerView &view, QObject *parent)
    : QObject(parent), m_view(view)
{
    connect(&m_port, &QSerialPort::readyRead, this, &DialAttempt::wake);
    connect(&m_port, &QSerialPort::errorOccurred, this, &DialAttempt::onPortError);
}

DialAttempt::~DialAttempt()
{
    if (m_port.isOpen()) {
        if (m_dialing)
            send(hangUpCommand());
        m_port.close();
    }
    if (m_loop)
        m_loop->quit();
}

DialAttempt::Outcome DialAttempt::dial()
{
    // Command2 is disabled while an attempt runs; a request that still gets
    // here (a queued click) must not start a second attempt on the port of
    // the waiting one.
    if (m_running)
        return Outcome::Ignored;

    QPointer<DialAttempt> self(this);
    m_running = true;
    m_ended = false;
    m_dialing = false;
    m_cancelFlag = false;
    const quint64 attemptId = ++m_attemptId;
    m_view.setDialEnabled(false);

    if (m_port.isOpen())
        m_port.close();
    const int portNumber = m_view.selectedPortIndex() + 1;
    const QString digits = dialDigits(dialNumber(m_view.commyText()), m_view.selectedExchangeIndex());
    const QByteArray command = dialCommand(digits);
    // Ends the attempt unless abort() or a newer attempt already did.
    auto conclude = [&](Outcome outcome) {
        if (!self || m_attemptId != attemptId)
            return Outcome::Aborted;
        const bool aborted = m_ended;
        if (!aborted)
            finish();
        m_running = false;
        return aborted ? Outcome::Aborted : outcome;
    };
    m_view.setCancelVisible(true);

    m_port.setPortName(m_settings ? portDevice(portNumber, *m_settings) : portDevice(portNumber));
    m_port.setBaudRate(QSerialPort::Baud9600);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_port.clearError();
        m_view.showDialerMessage(QStringLiteral("COM:%1 не подключен. Выберите другой СОМ.").arg(portNumber));
        return conclude(Outcome::PortUnavailable);
    }
    // A modem wants DTR; a pseudo-terminal refuses the modem-control
    // ioctls, which is harmless.
    m_port.setDataTerminalReady(true);
    m_port.setRequestToSend(true);
    m_port.clearError();

    m_dialing = true;
    m_savedStatus = m_view.statusText();
    m_view.setStatusText(QStringLiteral("Набираем номер - ") + digits);
    m_port.clear(QSerialPort::Input);
    send(command);

    // Every entry dialed joins the list, before any reply, whatever the end.
    const QString entry = m_view.commyText();
    bool found = false;
    for (int i = 0, n = m_view.commyCount(); i < n && !found; ++i)
        found = m_view.commyItem(i) == entry;
    if (!found)
        m_view.addCommyItem(entry);

    return conclude(waitForReply());
}

DialAttempt::Outcome DialAttempt::waitForReply()
{
    QPointer<DialAttempt> self(this);
    QByteArray reply;
    QEventLoop loop;
    for (;;) {
        if (m_port.isOpen() && m_port.bytesAvailable() > 0) {
            reply += m_port.readAll();
            // Upper case only, over everything received so far: the word
            // may arrive split across reads. BUSY wins over OK.
            const bool busy = reply.contains("BUSY");
            if (busy || reply.contains("OK")) {
                m_view.beep();
                m_view.showDialerMessage(busy
                        ? QStringLiteral("Занято, нажмите <Enter> или <OK>")
                        : QStringLiteral("Пожалуйста, поднимите трубку и нажмите <Enter> или <OK>"));
                return busy ? Outcome::Busy : Outcome::Answered;
            }
        }
        if (m_cancelFlag) {
            m_cancelFlag = false;
            return Outcome::Cancelled;
        }
        if (m_ended)
            return Outcome::Aborted;
        // Sleeps until readyRead, an error, cancel() or abort() wakes it;
        // meanwhile every window event is handled here.
        m_loop = &loop;
        loop.exec();
        if (!self)
            return Outcome::Aborted;
        m_loop = nullptr;
    }
}

void DialAttempt::finish()
{
    m_ended = true;
    if (m_dialing) {
        send(hangUpCommand());
        m_view.setStatusText(m_savedStatus);
    }
    closePort();
    m_view.setCancelVisible(false);
    m_view.setDialEnabled(true);
    m_dialing = false;
    m_cancelFlag = false;
}

void DialAttempt::send(const QByteArray &bytes)
{
    // Failures after the open are ignored: the attempt goes on.
    if (!m_port.isOpen())
        return;
    m_port.write(bytes);
    m_port.flush();
    if (m_port.bytesToWrite() > 0)
        m_port.waitForBytesWritten(HangUpWriteMs);
    m_port.clearError();
}

void DialAttempt::closePort()
{
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

void DialAttempt::wake()
{
    if (m_loop)
        m_loop->quit();
}

void DialAttempt::onPortError(QSerialPort::SerialPortError error)
{
    // When the far end goes away the read notifier keeps firing ReadError
    // while the port stays open, which would spin the wait. Close the port
    // (outside the port's own signal) and keep waiting for a reply that can
    // no longer come or for a cancel.
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    if (m_closeQueued)
        return;
    m_closeQueued = true;
    const quint64 attemptId = m_attemptId;
    QMetaObject::invokeMethod(this, [this, attemptId] {
        m_closeQueued = false;
        if (attemptId == m_attemptId)
            closePort();
        wake();
    }, Qt::QueuedConnection);
}

void DialAttempt::cancel()
{
    if (!m_running || m_ended)
        return;
    m_cancelFlag = true;
    wake();
}

void DialAttempt::abort()
{
    if (!m_running || m_ended)
        return;
    finish();
    wake();
}

} // namespace korvana
