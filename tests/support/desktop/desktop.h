#pragma once

#include <QApplication>
#include <QPoint>
#include <QProcess>
#include <QStringList>
#include <QTest>

#include <memory>
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
    ~Desktop() { stop(); }
    Desktop(const Desktop &) = delete;
    Desktop &operator=(const Desktop &) = delete;

    // Starts the server and the window manager, waits until the manager has
    // taken the screen and sets DISPLAY. False with `error` set on failure.
    bool start(QString *error);
    void stop();

    // Key names as xdotool knows them ("Return", "2", "apostrophe", "alt+Tab").
    void keys(const QStringList &names) const;
    void click(QPoint global, int count = 1) const;
    // Presses the left button at `from`, moves to `to` and releases there.
    void drag(QPoint from, QPoint to) const;

    // Starts another X program on this desktop; it ends with the desktop
    // at the latest. Its output is dropped unless the caller reads it.
    QProcess *launch(const QStringList &command, bool readOutput = false);
    void stopProgram(QProcess *program);

private:
    void xdotool(const QString &arguments) const;
    QByteArray firstLineOf(const QString &command);

    std::vector<std::unique_ptr<QProcess>> m_children; // in start order; stopped in reverse
};

// main() of a desktop test: the desktop, then the application on it, the
// tests (made with the desktop); the application goes before its X server does.
template<typename Tests>
int runDesktopTests(int argc, char **argv)
{
    Desktop desktop;
    QString error;
    if (!desktop.start(&error))
        qFatal("%s", qPrintable(error));
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    Tests tests(desktop);
    return QTest::qExec(&tests, argc, argv);
}

} // namespace korvana::test
