#include "modemsimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace korvana::test {

using Clock = std::chrono::steady_clock;

static void makeRaw(int fd)
{
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
}

ModemSimulator::ModemSimulator()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    makeRaw(m_master);
    makeRaw(m_slave);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (::pipe(m_wake) != 0) {
        ::close(m_master);
        ::close(m_slave);
        m_master = m_slave = -1;
        return;
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
        const char c = 0;
        [[maybe_unused]] const auto n = ::write(m_wake[1], &c, 1);
        m_thread.join();
    }
    for (int fd : {m_master, m_slave, m_wake[0], m_wake[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void ModemSimulator::setEcho(bool echo)
{
    std::lock_guard lock(m_mutex);
    m_echo = echo;
}

void ModemSimulator::setDialReply(const QList<Piece> &pieces)
{
    std::lock_guard lock(m_mutex);
    m_dialReply = pieces;
}

QList<ModemSimulator::Piece> ModemSimulator::word(const QByteArray &word, int delayMs)
{
    return {Piece{delayMs, "\r\n" + word + "\r\n", false}};
}

QByteArray ModemSimulator::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

bool ModemSimulator::waitForReceived(const QByteArray &needle, int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_received.contains(needle); });
}

int ModemSimulator::piecesPlayed() const
{
    std::lock_guard lock(m_mutex);
    return m_played;
}

bool ModemSimulator::hasVanished() const
{
    std::lock_guard lock(m_mutex);
    return m_vanished;
}

void ModemSimulator::writeMaster(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else if (n < 0 && errno != EINTR) {
            return;
        }
    }
}

void ModemSimulator::handleCommand(const QByteArray &line)
{
    const QByteArray command = line.trimmed().toUpper();
    if (command.startsWith("ATD")) {
        std::lock_guard lock(m_mutex);
        m_pending = m_dialReply;
        m_nextDue = Clock::now();
        if (!m_pending.isEmpty())
            m_nextDue += std::chrono::milliseconds(m_pending.first().delayMs);
    } else if (command.startsWith("AT")) {
        writeMaster("\r\nOK\r\n");
    }
}

void ModemSimulator::run()
{
    char buffer[1024];
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
            if (!m_pending.isEmpty() && m_master >= 0) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_nextDue - Clock::now());
                timeout = int(std::max<qint64>(0, left.count()));
            }
        }
        pollfd fds[2] = {{m_wake[0], POLLIN, 0}, {m_master, POLLIN, 0}};
        const int nfds = m_master >= 0 ? 2 : 1;
        const int ready = ::poll(fds, nfds, timeout);
        if (ready < 0 && errno != EINTR)
            return;

        if (nfds == 2 && (fds[1].revents & POLLIN)) {
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0) {
                const QByteArray bytes(buffer, n);
                bool echo;
                {
                    std::lock_guard lock(m_mutex);
                    m_received += bytes;
                    echo = m_echo;
                }
                m_changed.notify_all();
                if (echo)
                    writeMaster(bytes);
                for (char c : bytes) {
                    if (c == '\r') {
                        handleCommand(m_line);
                        m_line.clear();
                    } else {
                        m_line += c;
                    }
                }
            }
        } else if (nfds == 2 && (fds[1].revents & (POLLHUP | POLLERR))) {
            // Only when nobody holds the slave; we always do, but do not spin.
            ::usleep(10000);
        }

        // Play the pieces that are due.
        for (;;) {
            Piece piece;
            {
                std::lock_guard lock(m_mutex);
                if (m_pending.isEmpty() || m_master < 0 || Clock::now() < m_nextDue)
                    break;
                piece = m_pending.takeFirst();
                if (!m_pending.isEmpty())
                    m_nextDue = Clock::now() + std::chrono::milliseconds(m_pending.first().delayMs);
            }
            // Counted before it goes out: the program may read the bytes and
            // ask how many pieces were played before this thread runs again.
            {
                std::lock_guard lock(m_mutex);
                ++m_played;
            }
            if (piece.vanish) {
                std::lock_guard lock(m_mutex);
                ::close(m_master);
                m_master = -1;
                m_vanished = true;
                m_pending.clear();
            } else {
                writeMaster(piece.bytes);
            }
            m_changed.notify_all();
        }
    }
}

} // namespace korvana::test
