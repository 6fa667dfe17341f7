#include "gui/window/messages.h"

#include <QMessageBox>
#include <QPushButton>

namespace korvana {

namespace {

MessageResponder &responderSlot()
{
    static MessageResponder responder;
    return responder;
}

} // namespace

QString messageText(const QStringList &lines)
{
    return lines.join(QLatin1Char('\r'));
}

MessageResponder setMessageResponder(MessageResponder responder)
{
    MessageResponder previous = std::move(responderSlot());
    responderSlot() = std::move(responder);
    return previous;
}

MessageAnswer showMessage(QWidget *parent, const QStringList &lines, MessageIcon icon,
                          MessageButtons buttons)
{
    Message message;
    message.parent = parent;
    message.lines = lines;
    message.text = messageText(lines);
    message.icon = icon;
    message.buttons = buttons;

    if (responderSlot()) {
        // Copied, so a responder may replace itself while it answers.
        const MessageResponder responder = responderSlot();
        return responder(message);
    }

    // A bare carriage return is not a line break on every platform's label.
    QMessageBox box(icon == MessageIcon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QStringLiteral("Korvana"), lines.join(QLatin1Char('\n')), QMessageBox::NoButton,
                    parent);
    box.setTextFormat(Qt::PlainText);
    // The program's own words on its buttons, whatever translations of Qt
    // are installed.
    if (buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
        box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    const int pressed = box.exec();
    if (buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    return pressed == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

} // namespace korvana
