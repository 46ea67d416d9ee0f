#include "MessageBoxDialog.h"

#include <QApplication>
#include <QMessageBox>

MessageBox::Result showMessageBoxDialog(const MessageBox::Request &request)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (request.icon) {
    case MessageBox::Icon::None: icon = QMessageBox::NoIcon; break;
    case MessageBox::Icon::Critical: icon = QMessageBox::Critical; break;
    case MessageBox::Icon::Exclamation: icon = QMessageBox::Warning; break;
    case MessageBox::Icon::Question: icon = QMessageBox::Question; break;
    case MessageBox::Icon::Information: icon = QMessageBox::Information; break;
    }
    const bool yesNo = request.buttons == MessageBox::Buttons::YesNo;
    QMessageBox box(icon, request.title, request.text,
                    yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setDefaultButton(yesNo ? QMessageBox::Yes : QMessageBox::Ok);
    box.setAccessibleName(request.title);
    const int answer = box.exec();
    if (!yesNo)
        return MessageBox::Result::Ok;
    return answer == QMessageBox::Yes ? MessageBox::Result::Yes : MessageBox::Result::No;
}

void installMessageBoxDialogs()
{
    MessageBox::setHandler(&showMessageBoxDialog);
}
