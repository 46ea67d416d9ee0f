#pragma once

#include "MessageBox.h"

// Shows a message box request as a real QMessageBox with the asked icon,
// buttons and title, owned by the active window.
MessageBox::Result showMessageBoxDialog(const MessageBox::Request &request);

// Makes showMessageBoxDialog the program's message box handler.
void installMessageBoxDialogs();
