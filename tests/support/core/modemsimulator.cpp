#include "modemsimulator.h"

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace korvana::test {

using Clock = std::chrono::steady_clock;

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
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0 || ::pipe(m_wake) != 0) {
        if (m_master >= 0)
            ::close(m_master);
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
    m_thread = std::thread([this] { run(); });
}

ModemSimulator::~ModemSimulator()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        put(m_wake[1], QByteArray(1, '\0'));
        m_thread.join();
    }
    for (int fd : {m_master, m_slave, m_wake[0], m_wake[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void ModemSimulator::run()
{
    QByteArray line;
    char buffer[1024];
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
            if (!m_pending.isEmpty())
                timeout = int(std::max<qint64>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                      m_nextDue - Clock::now()).count()));
        }
        pollfd fds[2] = {{m_wake[0], POLLIN, 0}, {m_master, POLLIN, 0}};
        const int nfds = m_master >= 0 ? 2 : 1;
        ::poll(fds, nfds, timeout);
        const ssize_t n = nfds == 2 && (fds[1].revents & POLLIN) ? ::read(m_master, buffer, sizeof buffer) : 0;
        if (n > 0) {
            const QByteArray bytes(buffer, n);
            {
                std::lock_guard lock(m_mutex);
                m_received += bytes;
            }
            m_changed.notify_all();
            put(m_master, bytes); // the echo
            for (char c : bytes) {
                if (c != '\r') {
                    line += c;
                    continue;
                }
                const QByteArray command = std::exchange(line, {}).trimmed().toUpper();
                std::lock_guard lock(m_mutex);
                if (command.startsWith("ATD")) {
                    m_pending = m_dialReply;
                    m_nextDue = Clock::now() + std::chrono::milliseconds(m_pending.isEmpty() ? 0 : m_pending.first().delayMs);
                } else if (command.startsWith("AT")) {
                    put(m_master, "\r\nOK\r\n");
                }
            }
        }

        // Play the pieces that are due.
        for (;;) {
            Piece piece;
            {
                std::lock_guard lock(m_mutex);
                if (m_pending.isEmpty() || Clock::now() < m_nextDue)
                    break;
                piece = m_pending.takeFirst();
                if (!m_pending.isEmpty())
                    m_nextDue = Clock::now() + std::chrono::milliseconds(m_pending.first().delayMs);
                // Counted before it goes out: the program may read the bytes and
                // ask how many pieces were played before this thread runs again.
                ++m_played;
                if (piece.vanish) {
                    ::close(std::exchange(m_master, -1));
                    m_pending.clear();
                }
            }
            m_changed.notify_all();
            if (!piece.vanish)
                put(m_master, piece.bytes);
        }
    }
}

} // namespace korvana::test
