#include "core/dialer/dialattempt.h"

#include "core/dialer/dialdigits.h"
#include "core/dialer/portnames.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace korvana {

namespace {

// Bounds the hang-up write before close on a port that does not drain
// (a wedged driver must not freeze the window for long).
constexpr int HangUpWriteMs = 500;

// The receive buffer of the serial control: a modem that talks without end
// is read a buffer at a time.
constexpr qint64 kReceiveBuffer = 1024;

// What the wait keeps of a reply between reads: enough for a word split
// across two reads, the longest word ("BUSY") less one.
constexpr qsizetype kReplyTail = 3;

const QString kDialStatus = QStringLiteral("Набираем номер - ");

// Whether this user may open the device for reading and writing.
bool mayOpen(const QString &device)
{
#ifdef Q_OS_UNIX
    // By the effective user, as the open itself is checked.
    return ::faccessat(AT_FDCWD, QFile::encodeName(device).constData(), R_OK | W_OK, AT_EACCESS) == 0;
#else
    Q_UNUSED(device);
    return true;
#endif
}

} // namespace

QString portOpenFailureText(int portNumber, const PortFailure &failure)
{
    QString reason;
    if (!failure.exists)
        reason = QStringLiteral("%1: нет такого устройства.").arg(failure.device);
    else if (!failure.accessible)
        reason = QStringLiteral("%1: нет доступа, пользователь должен быть в группе %2.")
                         .arg(failure.device, failure.group.isEmpty() ? QStringLiteral("dialout") : failure.group);
    else if (failure.error == QSerialPort::PermissionError)
        reason = QStringLiteral("%1: порт занят другой программой.").arg(failure.device);
    else
        reason = QStringLiteral("%1: %2").arg(failure.device, failure.systemText);
    return QStringLiteral("COM:%1 не подключен. Выберите другой СОМ.\r").arg(portNumber) + reason;
}

DialAttempt::DialAttempt(DialerView &view, QObject *parent)
    : QObject(parent), m_view(view)
{
    connect(&m_port, &QSerialPort::readyRead, this, &DialAttempt::wake);
    connect(&m_port, &QSerialPort::errorOccurred, this, &DialAttempt::onPortError);
    // The wait itself has no time-out; after a while without an answer the
    // user is told that the modem is silent and how to stop waiting.
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, [this] {
        if (m_dialing && !m_ended)
            tellWhileWaiting(QStringLiteral("Модем не отвечает"));
    });
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

    const QString device = m_settings ? portDevice(portNumber, *m_settings) : portDevice(portNumber);
    m_port.setPortName(device);
    m_port.setBaudRate(QSerialPort::Baud9600);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_port.setReadBufferSize(kReceiveBuffer);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QFileInfo info(device);
        PortFailure failure;
        failure.device = device;
        failure.exists = !device.startsWith(QLatin1Char('/')) || info.exists();
        failure.accessible = mayOpen(failure.device);
        failure.group = info.group();
        failure.error = m_port.error();
        failure.systemText = m_port.errorString();
        m_port.clearError();
        m_view.showDialerMessage(portOpenFailureText(portNumber, failure));
        return conclude(Outcome::PortUnavailable);
    }
    // A modem wants DTR; a pseudo-terminal refuses the modem-control
    // ioctls, which is harmless.
    m_port.setDataTerminalReady(true);
    m_port.setRequestToSend(true);
    m_port.clearError();

    m_dialing = true;
    m_savedStatus = m_view.statusText();
    m_dialStatus = kDialStatus + digits;
    m_view.setStatusText(m_dialStatus);
    m_port.clear(QSerialPort::Input);
    send(command);
    m_silence.start(m_silenceNotice);

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
    m_replyTail.clear();
    QEventLoop loop;
    for (;;) {
        if (m_port.isOpen() && m_port.bytesAvailable() > 0) {
            // Upper case only. Any word before these bytes would have ended
            // the wait, so a word now found ends in them: the new bytes and
            // the last few before them are all that is searched and kept.
            // BUSY wins over OK.
            const QByteArray reply = m_replyTail + m_port.readAll();
            m_replyTail = reply.right(kReplyTail);
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
    m_silence.stop();
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
        if (attemptId == m_attemptId) {
            closePort();
            if (m_dialing && !m_ended)
                tellWhileWaiting(QStringLiteral("Модем отключен"));
        }
        wake();
    }, Qt::QueuedConnection);
}

void DialAttempt::tellWhileWaiting(const QString &what)
{
    m_silence.stop();
    m_view.setStatusText(m_dialStatus + u'\n' + what + QStringLiteral("\n«Отмена» прервёт ожидание"));
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
