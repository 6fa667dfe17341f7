#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;
class QTimer;
struct pg_conn;

namespace korvana {

// Listens on the office server for new editions and «Мой» changes while a seat runs. It
// connects, LISTENs and asks for the served edition without ever blocking
// the window's thread (libpq's non-blocking calls on a QSocketNotifier),
// and after a lost connection tries again by itself.
class EditionWatch : public QObject {
    Q_OBJECT
public:
    explicit EditionWatch(const QString &service, QObject *parent = nullptr);
    ~EditionWatch() override;

    void start();
    bool isConnected() const { return m_state == State::Listening; }
    // Delay before the next attempt after a failure, in milliseconds.
    void setRetryInterval(int ms) { m_retryMs = ms; }

signals:
    // The edition the server serves: at each (re)connection and on every notice.
    void servedEditionIs(qint64 id);
    void connectionLost(const QString &reason);
    // «Мой» changed on the server, or the watch (re)connected and may have missed changes.
    void notesChanged();

private:
    enum class State { Idle, Connecting, Querying, Listening };
    void attempt();
    void poll();
    void readInput();
    void failed(const QString &reason);
    void watchSocket(bool forWriting);
    void dropConnection();
    void sendNext();

    QString m_service;
    pg_conn *m_conn = nullptr;
    State m_state = State::Idle;
    QList<QByteArray> m_pending; // statements still to send after connecting
    int m_retryMs = 2000;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer *m_retry = nullptr;
    QTimer *m_timeout = nullptr;
};

} // namespace korvana
