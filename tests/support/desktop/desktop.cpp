#include "desktop.h"

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvana::test {

namespace {

using Clock = std::chrono::steady_clock;

Desktop *g_current = nullptr;

// argv for exec, built before fork: nothing may allocate in the child.
struct Argv {
    std::vector<QByteArray> words;
    std::vector<char *> pointers;
    explicit Argv(const QStringList &command)
    {
        for (const QString &w : command)
            words.push_back(w.toLocal8Bit());
        for (QByteArray &w : words)
            pointers.push_back(w.data());
        pointers.push_back(nullptr);
    }
};

// In the child, between fork and exec: dies with the test (a crashed or
// killed test leaves no X server behind), output to `out` and `err` or
// nowhere.
[[noreturn]] void execChild(char *const *argv, int out, int err, int keepFd)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(out >= 0 ? out : null, STDOUT_FILENO);
    ::dup2(err >= 0 ? err : null, STDERR_FILENO);
    for (int fd = 3; fd < 1024; ++fd) {
        if (fd != keepFd)
            ::close(fd);
    }
    ::execvp(argv[0], argv);
    ::_exit(127);
}

bool waitFor(pid_t pid, int timeoutMs, int *status)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const pid_t r = ::waitpid(pid, status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Runs a short command to its end (bounded) and returns its output; the
// exit code goes to `code` (-1 when it did not finish in time).
QByteArray run(const QStringList &command, int timeoutMs, int *code)
{
    Argv argv(command);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        *code = -1;
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0)
        execChild(argv.pointers.data(), pipeFds[1], -1, -1);
    ::close(pipeFds[1]);
    QByteArray out;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        out.append(buffer, n);
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (pid < 0 || !waitFor(pid, std::max<qint64>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                         deadline - Clock::now()).count()),
                            &status)) {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            waitFor(pid, 1000, &status);
        }
        *code = -1;
        return out;
    }
    *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

} // namespace

Desktop::~Desktop()
{
    stop();
}

Desktop &Desktop::current()
{
    Q_ASSERT(g_current);
    return *g_current;
}

pid_t Desktop::spawn(const QStringList &command, int keepFd)
{
    Argv argv(command);
    const pid_t pid = ::fork();
    if (pid == 0)
        execChild(argv.pointers.data(), -1, m_log, keepFd);
    if (pid > 0)
        m_children.push_back(pid);
    return pid;
}

QByteArray Desktop::spawnForLine(const QStringList &command)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    QStringList withFd = command;
    withFd.replaceInStrings(QStringLiteral("%fd"), QString::number(fds[1]));
    spawn(withFd, fds[1]);
    ::close(fds[1]);
    QByteArray line;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!line.contains('\n') && Clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char c;
        if (::read(fds[0], &c, 1) != 1)
            break;
        line += c;
    }
    ::close(fds[0]);
    return line.contains('\n') ? line.trimmed() : QByteArray();
}

QString Desktop::serverLog() const
{
    QByteArray text;
    char buffer[4096];
    ssize_t n;
    for (off_t at = 0; (n = ::pread(m_log, buffer, sizeof buffer, at)) > 0; at += n)
        text.append(buffer, n);
    return QString::fromLocal8Bit(text.right(2000));
}

bool Desktop::start(QString *error)
{
    // What the servers say goes to an unnamed file, shown when they fail.
    char logName[] = "/tmp/korvana-desktop-XXXXXX";
    m_log = ::mkstemp(logName);
    if (m_log >= 0)
        ::unlink(logName);
    // Each server picks a free display or address itself and says which.
    const QByteArray display = spawnForLine({QStringLiteral("Xvfb"), QStringLiteral("-displayfd"),
                                             QStringLiteral("%fd"), QStringLiteral("-screen"),
                                             QStringLiteral("0"), QStringLiteral("1024x768x24"),
                                             QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (display.isEmpty()) {
        *error = QStringLiteral("Xvfb did not start (is the xvfb package installed?)\n") + serverLog();
        stop();
        return false;
    }
    m_display = QStringLiteral(":") + QString::fromLatin1(display);
    ::setenv("DISPLAY", m_display.toLocal8Bit().constData(), 1);
    // A desktop session has a session bus, which the toolkit asks for
    // accessibility; without one the bus library starts a search of its own.
    const QByteArray bus = spawnForLine({QStringLiteral("dbus-daemon"), QStringLiteral("--session"),
                                         QStringLiteral("--nofork"), QStringLiteral("--print-address=%fd")});
    if (bus.isEmpty()) {
        *error = QStringLiteral("dbus-daemon did not start\n") + serverLog();
        stop();
        return false;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.constData(), 1);

    // Generous: on a loaded machine the manager takes seconds to start. Now
    // and then openbox ends at once with status 1 and no word on a fresh
    // server; it is started again then (the attempts are in the log).
    bool managed = false;
    bool ended = true;
    for (int attempt = 0; attempt < 3 && !managed && ended; ++attempt) {
        const pid_t wm = spawn({QStringLiteral("openbox"), QStringLiteral("--sm-disable"),
                                QStringLiteral("--config-file"),
                                QStringLiteral(KORVANA_SOURCE_DIR "/tests/support/desktop/openbox-rc.xml")});
        managed = waitForWindowManager(wm, 30000);
        ended = std::find(m_children.begin(), m_children.end(), wm) == m_children.end();
    }
    if (!managed) {
        *error = QStringLiteral("openbox did not take display %1\n%2").arg(m_display, serverLog());
        stop();
        return false;
    }
    g_current = this;
    return true;
}

bool Desktop::waitForWindowManager(pid_t wm, int timeoutMs)
{
    // A window manager that follows the desktop conventions announces
    // itself on the root window once it manages the screen.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(wm, &status, WNOHANG) == wm) {
            ::dprintf(m_log, "openbox ended: %s %d\n", WIFEXITED(status) ? "exit" : "signal",
                      WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
            m_children.erase(std::find(m_children.begin(), m_children.end(), wm));
            return false;
        }
        int code = 0;
        const QByteArray out = run({QStringLiteral("xprop"), QStringLiteral("-root"),
                                    QStringLiteral("_NET_SUPPORTING_WM_CHECK")},
                                   2000, &code);
        if (code == 0 && out.contains("window id #"))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void Desktop::stop()
{
    if (g_current == this)
        g_current = nullptr;
    while (!m_children.empty())
        stopProgram(m_children.back());
    if (m_log >= 0)
        ::close(std::exchange(m_log, -1));
}

pid_t Desktop::launch(const QStringList &command)
{
    return spawn(command);
}

void Desktop::stopProgram(pid_t pid)
{
    const auto it = std::find(m_children.begin(), m_children.end(), pid);
    if (it == m_children.end())
        return;
    m_children.erase(it);
    int status = 0;
    ::kill(pid, SIGTERM);
    if (!waitFor(pid, 3000, &status)) {
        ::kill(pid, SIGKILL);
        waitFor(pid, 3000, &status);
    }
}

QByteArray Desktop::xdotool(const QStringList &arguments) const
{
    int code = 0;
    const QByteArray out = run(QStringList{QStringLiteral("xdotool")} + arguments, 10000, &code);
    if (code != 0)
        qFatal("xdotool %s failed (%d)", qPrintable(arguments.join(u' ')), code);
    return out;
}

void Desktop::keys(const QStringList &names) const
{
    xdotool(QStringList{QStringLiteral("key")} + names);
}

void Desktop::click(QPoint global, int count) const
{
    xdotool({QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y()),
             QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(count),
             QStringLiteral("1")});
}

void Desktop::drag(QPoint from, QPoint to) const
{
    xdotool({QStringLiteral("mousemove"), QString::number(from.x()), QString::number(from.y()),
             QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("mousemove"),
             QString::number((from.x() + to.x()) / 2), QString::number(to.y()),
             QStringLiteral("mousemove"), QString::number(to.x()), QString::number(to.y()),
             QStringLiteral("mouseup"), QStringLiteral("1")});
}

} // namespace korvana::test
