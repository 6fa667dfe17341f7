#pragma once

#include "gui/window/messages.h"

#include <QList>
#include <QQueue>

namespace korvana::test {

// While it lives, every message box of the program is answered from a
// queue instead of being shown, and recorded. With the queue empty a box
// gets the answer that Enter would give (OK, or Yes). The responder that
// was installed before is put back on destruction.
class MessageCatcher {
public:
    MessageCatcher();
    ~MessageCatcher();
    MessageCatcher(const MessageCatcher &) = delete;
    MessageCatcher &operator=(const MessageCatcher &) = delete;

    // Puts the previous responder back now: from here on the boxes are real.
    void detach();

    // Answers for the coming messages, in order.
    void answerNext(MessageAnswer answer) { m_answers.enqueue(answer); }

    qsizetype count() const { return m_messages.size(); }
    // The texts alone, lines joined by "\r" as recorded.
    QStringList texts() const;
    const Message &last() const { return m_messages.last(); }
    void clear() { m_messages.clear(); }

private:
    MessageAnswer respond(const Message &message);

    QQueue<MessageAnswer> m_answers;
    QList<Message> m_messages;
    MessageResponder m_previous;
    bool m_attached = true;
};

} // namespace korvana::test
