#include "modemsimulator.h"

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <fcntl.h>

namespace korvana::test {

using Clock = std::chrono::steady_clock;

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
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

ModemSimulator::~ModemSimulator()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        [[maybe_unused]] const auto n = ::write(m_wake[1], "", 1);
        m_thread.join();
    }
    for (int fd : {m_master, m_slave, m_wake[0], m_wake[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

QList<ModemSimulator::Piece> ModemSimulator::word(const QByteArray &word, int delayMs)
{
    return {Piece{delayMs, "\r\n" + word + "\r\n", false}};
}

void ModemSimulator::writeMaster(const QByteArray &bytes)
{
    for (qsizetype done = 0; m_master >= 0 && done < bytes.size();) {
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
        m_nextDue = Clock::now() + std::chrono::milliseconds(m_pending.isEmpty() ? 0 : m_pending.first().delayMs);
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
        if (::poll(fds, nfds, timeout) < 0 && errno != EINTR)
            return;
        const ssize_t n = nfds == 2 && (fds[1].revents & POLLIN) ? ::read(m_master, buffer, sizeof buffer) : 0;
        if (n > 0) {
            const QByteArray bytes(buffer, n);
            {
                std::lock_guard lock(m_mutex);
                m_received += bytes;
            }
            m_changed.notify_all();
            writeMaster(bytes); // the echo
            for (char c : bytes) {
                if (c != '\r')
                    m_line += c;
                else
                    handleCommand(std::exchange(m_line, {}));
            }
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
                // Counted before it goes out: the program may read the bytes and
                // ask how many pieces were played before this thread runs again.
                ++m_played;
                if (piece.vanish) {
                    ::close(m_master);
                    m_master = -1;
                    m_pending.clear();
                }
            }
            m_changed.notify_all();
            if (!piece.vanish)
                writeMaster(piece.bytes);
        }
    }
}

} // namespace korvana::test
