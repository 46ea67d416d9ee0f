#pragma once

#include <QByteArrayView>
#include <QString>

// A token as a person reads it: "sender domain hotmail.com seen in 14 of
// your spam".
namespace LearnReasons {

QString describe(QByteArrayView token, quint32 seen, bool spam);

} // namespace LearnReasons
