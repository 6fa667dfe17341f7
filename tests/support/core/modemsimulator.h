#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace korvana::test {

// A Hayes modem on the master side of a pseudo-terminal pair, answering from
// its own thread; the program under test opens slavePath() as its serial
// port. Every byte it receives is recorded and echoed. Of the command lines
// (ended by CR), "AT..." commands other than dial are answered "OK", and a
// dial command ("ATD...") plays the pieces set by setDialReply(): silence
// until told otherwise.
class ModemSimulator {
public:
    struct Piece {
        int delayMs = 0;       // after the previous piece (or the dial command)
        QByteArray bytes;
        bool vanish = false;   // instead of bytes: close the master, the far end is gone
    };

    ModemSimulator();
    ~ModemSimulator();

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }

    void setDialReply(const QList<Piece> &pieces) { std::lock_guard lock(m_mutex); m_dialReply = pieces; }
    // A whole result word after `delayMs`, framed as a modem frames it.
    static QList<Piece> word(const QByteArray &word, int delayMs = 100) { return {Piece{delayMs, "\r\n" + word + "\r\n"}}; }

    QByteArray received() const { std::lock_guard lock(m_mutex); return m_received; }
    int piecesPlayed() const { std::lock_guard lock(m_mutex); return m_played; }
    // Wait (without an event loop) until `needle` has been received, or until
    // exactly `count` dial-reply pieces have gone out (a vanish counts as one).
    bool waitForReceived(const QByteArray &needle, int timeoutMs) const
    {
        return waitFor(timeoutMs, [&] { return m_received.contains(needle); });
    }
    bool waitForPiecesPlayed(int count, int timeoutMs) const
    {
        return waitFor(timeoutMs, [&] { return m_played >= count; }) && piecesPlayed() == count;
    }

private:
    template<typename Done> bool waitFor(int timeoutMs, Done done) const
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
    }
    void run();

    int m_master = -1;
    int m_slave = -1; // held open so the master never sees a hang-up between test opens
    int m_wake[2] = {-1, -1};
    QString m_slavePath;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    QByteArray m_received;
    QList<Piece> m_dialReply, m_pending;
    std::chrono::steady_clock::time_point m_nextDue;
    bool m_stop = false;
    int m_played = 0;
    std::thread m_thread;
};

} // namespace korvana::test
