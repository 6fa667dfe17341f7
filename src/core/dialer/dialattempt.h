#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <chrono>

class QEventLoop;
class QSettings;

namespace korvana {

// What an attempt needs of the window. The window implements it over its
// controls: `cboPort`, `ATC`, `Commy`, `Status`, `Command2`, `Command3`.
class DialerView {
public:
    virtual ~DialerView() = default;

    virtual int selectedPortIndex() const = 0;     // cboPort, 0 is "Com1"
    virtual int selectedExchangeIndex() const = 0; // ATC
    virtual QString commyText() const = 0;         // exactly as shown
    virtual int commyCount() const = 0;
    virtual QString commyItem(int index) const = 0;
    virtual void addCommyItem(const QString &text) = 0;
    virtual QString statusText() const = 0;
    // A text of several lines ("\n") is a status line's lines in turn.
    virtual void setStatusText(const QString &text) = 0;
    virtual void setCancelVisible(bool visible) = 0; // Command3
    virtual void setDialEnabled(bool enabled) = 0;   // Command2
    virtual void beep() = 0;
    // Modal, OK button only, no icon, titled "Korvana"; returns when closed.
    virtual void showDialerMessage(const QString &text) = 0;
};

// Why a port did not open, as far as the system says.
struct PortFailure {
    QString device;
    bool exists = true;
    bool accessible = true; // this user may read and write the device
    QString group;          // the device's group
    QSerialPort::SerialPortError error = QSerialPort::NoError;
    QString systemText;
};

// The message of a port that did not open: the port's line as it always
// was, then the device tried and why it failed.
QString portOpenFailureText(int portNumber, const PortFailure &failure);

// One dialing attempt at a time on a Hayes modem: open the chosen port,
// send the dial command, wait for BUSY or OK (or a cancel), tell the user,
// hang up, close. The wait runs a nested event loop, so the window stays
// usable; it sleeps until data, an error or a cancel arrives.
class DialAttempt : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Ignored,         // an attempt was already running
        PortUnavailable, // the port did not open; nothing was sent
        Busy,
        Answered,        // the modem said OK: the handset takes the line
        Cancelled,
        Aborted,         // ended from outside by abort() (window closing)
    };
    Q_ENUM(Outcome)

    explicit DialAttempt(DialerView &view, QObject *parent = nullptr);
    // Hangs up and closes the port of a running attempt; the view is not
    // touched any more.
    ~DialAttempt() override;

    // Where the "Com" n device mapping is read; null (the default) reads
    // the application's settings store. Not owned.
    void setSettings(const QSettings *settings) { m_settings = settings; }

    // A click on Command2: runs a whole attempt and returns when it ends.
    Outcome dial();

    // How long the wait goes without an answer before the status line
    // says so (30 s).
    void setSilenceNotice(std::chrono::milliseconds after) { m_silenceNotice = after; }
    // Bytes of the modem's reply held between reads of one wait.
    qsizetype replyBytesHeld() const { return m_replyTail.size(); }

    bool isRunning() const { return m_running; }
    bool isPortOpen() const { return m_port.isOpen(); }
    // `CancelFlag`: set by cancel() during an attempt, cleared when the
    // attempt ends.
    bool cancelFlag() const { return m_cancelFlag; }

public slots:
    // A click on Command3: the wait ends at its next turn.
    void cancel();
    // Ends a running attempt at once (hang-up sent, Status restored, port
    // closed, Command3 hidden), e.g. before the window closes. The dial()
    // call on the stack then returns Aborted without touching the view.
    void abort();

private:
    Outcome waitForReply();
    void finish();
    void send(const QByteArray &bytes);
    void closePort();
    void wake();
    void onPortError(QSerialPort::SerialPortError error);
    // Adds `what` and the way out to the status line of the waiting
    // attempt, each as a line of its own.
    void tellWhileWaiting(const QString &what);

    DialerView &m_view;
    const QSettings *m_settings = nullptr;
    QSerialPort m_port;
    QEventLoop *m_loop = nullptr;
    QString m_savedStatus;
    QString m_dialStatus; // "Набираем номер - " and the digits
    QByteArray m_replyTail;
    QTimer m_silence;
    std::chrono::milliseconds m_silenceNotice{30000};
    quint64 m_attemptId = 0;
    bool m_running = false;
    bool m_ended = false;   // steps after the wait are done for this attempt
    bool m_dialing = false; // the dial command went out: hang up, restore Status
    bool m_cancelFlag = false;
    bool m_closeQueued = false;
};

} // namespace korvana
