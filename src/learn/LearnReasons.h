#pragma once

#include <QByteArray>
#include <QString>

// A token as a person reads it: "sender domain hotmail.com seen in 14 of
// your spam".
namespace LearnReasons {

QString describe(const QByteArray &token, quint32 seen, bool spam);

} // namespace LearnReasons
