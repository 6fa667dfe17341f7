#pragma once

#include <QObject>
#include <QPointer>
#include <QList>
#include <QString>

class QMessageBox;

namespace korvana::test {

class Desktop;

// Answers the program's real message boxes through the screen, as a user
// would: once a box is up and the window manager has given it the
// keyboard, Return goes to it through the X server. Each box is answered
// once and recorded.
class BoxAnswerer : public QObject {
    Q_OBJECT
public:
    struct Box {
        QString text; // lines joined by "\r", as the program writes them
        int icon;     // QMessageBox::Icon
        int buttons;  // QMessageBox::StandardButtons
    };

    explicit BoxAnswerer(const Desktop &desktop, QObject *parent = nullptr);

    qsizetype count() const { return m_boxes.size(); }
    const Box &last() const { return m_boxes.last(); }

private:
    void poll();

    const Desktop &m_desktop;
    QList<Box> m_boxes;
    QPointer<QMessageBox> m_answered; // until it has gone, the box last answered
};

} // namespace korvana::test
