#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <thread>

class QSocketNotifier;

namespace korvana::test {

// A Hayes modem on the master side of a pseudo-terminal pair, answering in
// the test's event loop (the dialer waits in one); the program under test
// opens slavePath(). Every byte received is recorded and echoed; "AT..."
// lines are answered "OK", but a dial ("ATD...") plays the pieces set by
// setDialReply(): silence until told otherwise.
class ModemSimulator : public QObject {
public:
    struct Piece {
        int delayMs = 0;       // after the previous piece (or the dial command)
        QByteArray bytes;
    };

    ModemSimulator();
    ~ModemSimulator() override;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }

    void setDialReply(const QList<Piece> &pieces) { m_dialReply = pieces; }
    // A whole result word after `delayMs`, framed as a modem frames it.
    static QList<Piece> word(const QByteArray &word, int delayMs = 100) { return {Piece{delayMs, "\r\n" + word + "\r\n"}}; }

    // From a thread of its own, as fast as the line takes them: `bytes`
    // bytes of 'x', then `last`, then, 200 ms later, `after`. Echoes may be
    // lost meanwhile.
    void flood(qint64 bytes, const QByteArray &last, const QByteArray &after);
    qint64 flooded() const { return m_flooded; }

    QByteArray received() const { return m_received; }
    int piecesPlayed() const { return m_played; }
    // Run the event loop until `needle` has been received, or until exactly
    // `count` dial-reply pieces have gone out.
    bool waitForReceived(const QByteArray &needle, int timeoutMs);
    bool waitForPiecesPlayed(int count, int timeoutMs);

private:
    void readCommands();
    void playNext();

    int m_master = -1;
    int m_slave = -1; // held open so the master never sees a hang-up between test opens
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_nextPiece;
    QByteArray m_received, m_line;
    QList<Piece> m_dialReply, m_pending;
    int m_played = 0;
    std::thread m_flooder;
    std::atomic<qint64> m_flooded{0};
    std::atomic<bool> m_stopFlood{false};
};

} // namespace korvana::test
