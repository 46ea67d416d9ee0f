#pragma once

#include <QString>
#include <QStringView>
#include <functional>

// The fields of a message header as a POP3 TOP reply brings it: a status
// line ("+OK ...") first when there is one, then "Name: value" lines with
// their continuation lines, up to the blank line or the end. Each field is
// handed over once, name as written, value raw (folds kept, nothing decoded).
namespace HeaderFields {

void forEach(QStringView header, const std::function<void(QStringView name, QStringView rawValue)> &visit);

} // namespace HeaderFields
