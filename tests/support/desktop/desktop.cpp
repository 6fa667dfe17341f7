#include "desktop.h"

#include <QDeadlineTimer>

#include <csignal>

#include <sys/prctl.h>

namespace korvana::test {

namespace {

QStringList words(const QString &line) { return line.split(u' '); }

// A short command run to its end, bounded; the exit code is -1 when it did
// not start, crashed or took too long.
int run(const QStringList &command, QByteArray *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(1000);
        return -1;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

QProcess *Desktop::launch(const QStringList &command, bool readOutput)
{
    auto process = std::make_unique<QProcess>();
    // A crashed or killed test leaves no X server behind.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    // What the servers say shows in the test's output when they fail.
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!readOutput)
        process->setStandardOutputFile(QProcess::nullDevice());
    process->start(command.first(), command.mid(1));
    process->waitForStarted(10000);
    return m_children.emplace_back(std::move(process)).get();
}

// Starts a server that says in one line on its output where it can be
// reached once it is ready; the line, empty when none came in time.
QByteArray Desktop::firstLineOf(const QString &command)
{
    QProcess *server = launch(words(command), true);
    QByteArray line;
    const QDeadlineTimer deadline(10000);
    while (!line.contains('\n') && server->waitForReadyRead(int(deadline.remainingTime())))
        line += server->readAllStandardOutput();
    return line.contains('\n') ? line.trimmed() : QByteArray();
}

bool Desktop::start(QString *error)
{
    // Each server picks a free display or address itself and says which.
    const QByteArray display = firstLineOf(QStringLiteral("Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp"));
    qputenv("DISPLAY", ':' + display);
    // A desktop session has a session bus, which the toolkit asks for
    // accessibility; without one the bus library starts a search of its own.
    const QByteArray bus = display.isEmpty() ? QByteArray()
                                             : firstLineOf(QStringLiteral("dbus-daemon --session --nofork --print-address"));
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    // Now and then openbox ends at once with status 1 and no word on a
    // fresh server; it is started again then.
    bool managed = false;
    for (int attempt = 0; attempt < 3 && !bus.isEmpty() && !managed; ++attempt) {
        QProcess *wm = launch({QStringLiteral("openbox"), QStringLiteral("--sm-disable"), QStringLiteral("--config-file"),
                               QStringLiteral(KORVANA_SOURCE_DIR "/tests/support/desktop/openbox-rc.xml")});
        // Generous: on a loaded machine the manager takes seconds to start. A
        // manager that follows the desktop conventions announces itself on the
        // root window once it manages the screen.
        const QDeadlineTimer deadline(30000);
        QByteArray out;
        while (!managed && !deadline.hasExpired() && !wm->waitForFinished(20))
            managed = run(words(QStringLiteral("xprop -root _NET_SUPPORTING_WM_CHECK")), &out) == 0
                      && out.contains("window id #");
        if (wm->state() != QProcess::NotRunning)
            break; // managing, or running without ever managing: a new one would not help
        qWarning("openbox ended at once (status %d)", wm->exitCode());
    }
    if (!managed) {
        *error = display.isEmpty() ? QStringLiteral("Xvfb did not start (is the xvfb package installed?)")
                 : bus.isEmpty()   ? QStringLiteral("dbus-daemon did not start")
                                   : QStringLiteral("openbox did not take display :") + QString::fromLatin1(display);
        stop();
        return false;
    }
    return true;
}

void Desktop::stop()
{
    while (!m_children.empty())
        stopProgram(m_children.back().get());
}

void Desktop::stopProgram(QProcess *program)
{
    program->terminate();
    if (!program->waitForFinished(3000)) {
        program->kill();
        program->waitForFinished(3000);
    }
    std::erase_if(m_children, [program](const auto &child) { return child.get() == program; });
}

// Fails the process loudly when xdotool cannot run: no test result would mean anything.
void Desktop::xdotool(const QString &arguments) const
{
    if (const int code = run(words(QStringLiteral("xdotool ") + arguments)); code != 0)
        qFatal("xdotool %s failed (%d)", qPrintable(arguments), code);
}

void Desktop::keys(const QStringList &names) const { xdotool(QStringLiteral("key ") + names.join(u' ')); }

void Desktop::click(QPoint global, int count) const
{
    xdotool(QStringLiteral("mousemove %1 %2 click --repeat %3 1").arg(global.x()).arg(global.y()).arg(count));
}

void Desktop::drag(QPoint from, QPoint to) const
{
    xdotool(QStringLiteral("mousemove %1 %2 mousedown 1 mousemove %3 %4 mousemove %5 %4 mouseup 1")
                .arg(from.x()).arg(from.y()).arg((from.x() + to.x()) / 2).arg(to.y()).arg(to.x()));
}

} // namespace korvana::test
