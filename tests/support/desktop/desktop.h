#pragma once

#include <QApplication>
#include <QByteArray>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTest>

#include <sys/types.h>

#include <vector>

namespace korvana::test {

// A real X desktop for window tests: an Xvfb of its own on a free display,
// openbox managing it and a session bus, so that activation, focus and the
// title bar's buttons behave as on a user's machine. Input goes through the
// X server with xdotool. Start it before the QApplication (which then
// connects to it through DISPLAY) and stop it after the application is gone.
class Desktop {
public:
    Desktop() = default;
    ~Desktop();
    Desktop(const Desktop &) = delete;
    Desktop &operator=(const Desktop &) = delete;

    // Starts the server and the window manager, waits until the manager has
    // taken the screen and sets DISPLAY. False with `error` set on failure.
    bool start(QString *error);
    void stop();

    // The desktop the running test uses (set by start()).
    static Desktop &current();

    // Runs xdotool with these arguments and waits for it; fails the process
    // loudly if it cannot run, since no test result would mean anything.
    QByteArray xdotool(const QStringList &arguments) const;
    // Key names as xdotool knows them ("Return", "2", "apostrophe", "alt+Tab").
    void keys(const QStringList &names) const;
    void click(QPoint global, int count = 1) const;
    // Presses the left button at `from`, moves to `to` and releases there.
    void drag(QPoint from, QPoint to) const;

    // Starts another X program on this desktop; it ends with the desktop
    // at the latest.
    pid_t launch(const QStringList &command);
    void stopProgram(pid_t pid);

private:
    pid_t spawn(const QStringList &command, int keepFd = -1);
    // Starts a server that writes one line (its display, its address) to
    // the descriptor put in place of "%fd"; returns the line, empty when
    // none came.
    QByteArray spawnForLine(const QStringList &command);
    bool waitForWindowManager(pid_t wm, int timeoutMs);
    QString serverLog() const;

    std::vector<pid_t> m_children; // in start order; stopped in reverse
    QString m_display;
    int m_log = -1; // the servers' error output
};

// main() of a desktop test: the desktop, then the application on it, the
// tests; the application goes before its X server does.
template<typename Tests>
int runDesktopTests(int argc, char **argv)
{
    Desktop desktop;
    QString error;
    if (!desktop.start(&error))
        qFatal("%s", qPrintable(error));
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    Tests tests;
    return QTest::qExec(&tests, argc, argv);
}

} // namespace korvana::test
