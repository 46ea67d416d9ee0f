#pragma once

#include <QtCore/qnamespace.h>

// Every dialog of the program: a title and a close box, no minimise or
// maximise (a modal dialog minimised alone leaves its owner locked).
inline constexpr Qt::WindowFlags kDialogWindowFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
    | Qt::WindowCloseButtonHint;
