#include "boxanswerer.h"

#include "desktop.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace korvana::test {

namespace {
// A box that keeps coming back is the fault the answerer guards against;
// past this many the program would never let the test end.
constexpr int kMaxBoxes = 20;
}

BoxAnswerer::BoxAnswerer(const Desktop &desktop, QObject *parent)
    : QObject(parent), m_desktop(desktop)
{
    // Polled, because a box runs its own event loop inside the program's
    // handler: only timers reach the test from there.
    auto *timer = new QTimer(this);
    timer->setInterval(20);
    connect(timer, &QTimer::timeout, this, &BoxAnswerer::poll);
    timer->start();
}

void BoxAnswerer::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || box == m_answered || !box->isVisible() || QApplication::activeWindow() != box)
        return;
    m_answered = box;
    m_boxes << Box{box->text().replace(u'\n', u'\r'), int(box->icon()), int(box->standardButtons())};
    if (m_boxes.size() > kMaxBoxes)
        qFatal("message box came back %d times: %s", int(m_boxes.size()), qPrintable(m_boxes.last().text));
    m_desktop.keys({QStringLiteral("Return")});
}

} // namespace korvana::test
