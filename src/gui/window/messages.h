#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace korvana {

enum class MessageIcon { None, Critical };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

// One message as the program asks for it. text is the lines joined by a
// single carriage return, which is what the program's callers compare.
struct Message {
    QWidget *parent = nullptr;
    QStringList lines;
    QString text;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
};

// Answers a message instead of a person; installed by tests.
using MessageResponder = std::function<MessageAnswer(const Message &)>;

// Every message box of the program goes through here: modal, titled
// "Korvana", OK alone or Yes and No with Yes the default. Returns the
// button pressed; closing a Yes/No box without choosing counts as No.
MessageAnswer showMessage(QWidget *parent, const QStringList &lines,
                          MessageIcon icon = MessageIcon::None,
                          MessageButtons buttons = MessageButtons::Ok);

// The lines joined as the program records and compares them.
QString messageText(const QStringList &lines);

// Installs a responder (an empty one restores the real boxes) and returns
// the one it replaces.
MessageResponder setMessageResponder(MessageResponder responder);

} // namespace korvana
