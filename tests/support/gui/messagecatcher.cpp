#include "messagecatcher.h"

#include <utility>

namespace korvana::test {

MessageCatcher::MessageCatcher()
{
    m_previous = setMessageResponder([this](const Message &message) { return respond(message); });
}

MessageCatcher::~MessageCatcher()
{
    detach();
}

void MessageCatcher::detach()
{
    if (std::exchange(m_attached, false))
        setMessageResponder(std::move(m_previous));
}

QStringList MessageCatcher::texts() const
{
    QStringList result;
    for (const Message &message : m_messages)
        result << message.text;
    return result;
}

MessageAnswer MessageCatcher::respond(const Message &message)
{
    m_messages << message;
    if (!m_answers.isEmpty())
        return m_answers.dequeue();
    return message.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

} // namespace korvana::test
