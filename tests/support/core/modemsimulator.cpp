#include "modemsimulator.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace korvana::test {

namespace {
// The master is blocking: what goes out (echoes, a few result words) is far
// below what the pseudo-terminal holds, so a write never waits for a reader.
void put(int fd, const QByteArray &bytes)
{
    [[maybe_unused]] const auto n = ::write(fd, bytes.constData(), size_t(bytes.size()));
}
} // namespace

ModemSimulator::ModemSimulator()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    for (int fd : {m_master, m_slave}) {
        termios t{};
        if (::tcgetattr(fd, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(fd, TCSANOW, &t);
        }
    }
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ModemSimulator::readCommands);
    m_nextPiece.setSingleShot(true);
    connect(&m_nextPiece, &QTimer::timeout, this, &ModemSimulator::playNext);
}

ModemSimulator::~ModemSimulator()
{
    m_stopFlood = true;
    if (m_flooder.joinable())
        m_flooder.join();
    delete m_notifier;
    for (int fd : {m_master, m_slave}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void ModemSimulator::flood(qint64 bytes, const QByteArray &last, const QByteArray &after)
{
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_flooder = std::thread([this, bytes, last, after] {
        const QByteArray noise(4096, 'x');
        // Writes all of `data` unless the flood is stopped first.
        const auto write = [this](const char *data, qint64 size, bool counted) {
            while (size > 0 && !m_stopFlood) {
                pollfd out{m_master, POLLOUT, 0};
                if (::poll(&out, 1, 50) <= 0)
                    continue;
                const ssize_t n = ::write(m_master, data, size_t(size));
                if (n <= 0)
                    continue;
                data += n;
                size -= n;
                if (counted)
                    m_flooded += n;
            }
        };
        for (qint64 left = bytes; left > 0 && !m_stopFlood; left -= noise.size())
            write(noise.constData(), std::min<qint64>(left, noise.size()), true);
        write(last.constData(), last.size(), false);
        for (int i = 0; i < 4 && !m_stopFlood; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        write(after.constData(), after.size(), false);
    });
}

bool ModemSimulator::waitForReceived(const QByteArray &needle, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_received.contains(needle); }, timeoutMs);
}

bool ModemSimulator::waitForPiecesPlayed(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_played >= count; }, timeoutMs) && m_played == count;
}

void ModemSimulator::readCommands()
{
    char buffer[1024];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n <= 0)
        return;
    const QByteArray bytes(buffer, n);
    m_received += bytes;
    put(m_master, bytes); // the echo
    for (char c : bytes) {
        if (c != '\r') {
            m_line += c;
            continue;
        }
        const QByteArray command = std::exchange(m_line, {}).trimmed().toUpper();
        if (command.startsWith("ATD")) {
            m_pending = m_dialReply;
            if (!m_pending.isEmpty())
                m_nextPiece.start(m_pending.first().delayMs);
        } else if (command.startsWith("AT")) {
            put(m_master, "\r\nOK\r\n");
        }
    }
}

void ModemSimulator::playNext()
{
    const Piece piece = m_pending.takeFirst();
    ++m_played;
    put(m_master, piece.bytes);
    if (!m_pending.isEmpty())
        m_nextPiece.start(m_pending.first().delayMs);
}

} // namespace korvana::test
