#pragma once

#include <QByteArrayView>
#include <functional>

// The fields of a message header as a POP3 TOP reply brings it, as the bytes
// the server sent: a status line ("+OK ...") first when there is one, then
// "Name: value" lines with their continuation lines, up to the blank line or
// the end. Each field is handed over once, name as written (white space
// around it trimmed, read a character a byte), value raw (folds kept,
// nothing decoded).
namespace HeaderFields {

void forEach(QByteArrayView header, const std::function<void(QByteArrayView name, QByteArrayView rawValue)> &visit);

} // namespace HeaderFields
