#pragma once

#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QStringList>

class QMessageBox;

namespace korvana::test {

class Desktop;

// Answers the program's real message boxes through the screen, as a user
// would: once a box is up and the window manager has given it the
// keyboard, a key goes to it through the X server (Return unless another
// key is queued). Each box is answered once; its text is recorded, lines
// joined by "\r" as the program writes them.
class BoxAnswerer : public QObject {
    Q_OBJECT
public:
    explicit BoxAnswerer(const Desktop &desktop, QObject *parent = nullptr);

    // The key for the next box instead of Return ("Escape", "n", ...).
    void answerNextWith(const QString &key) { m_keys.enqueue(key); }

    const QStringList &texts() const { return m_texts; }
    qsizetype count() const { return m_texts.size(); }

private:
    void poll();

    const Desktop &m_desktop;
    QQueue<QString> m_keys;
    QStringList m_texts;
    QPointer<QMessageBox> m_answered; // until it has gone, the box last answered
};

} // namespace korvana::test
