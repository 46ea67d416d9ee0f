#pragma once

#include "MessageBox.h"

#include <QFont>

// Shows a message box request as a real QMessageBox with the asked icon,
// buttons and title, owned by the active window.
MessageBox::Result showMessageBoxDialog(const MessageBox::Request &request);

// The least width of a box whose title is `title`, so that a window
// manager's title bar shows it whole.
int messageBoxTitleWidth(const QString &title, const QFont &font);

// Makes showMessageBoxDialog the program's message box handler.
void installMessageBoxDialogs();
