#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <functional>

// The fields of a header block, unfolded: lines may end in CR LF or LF; a
// leading "+OK" status line or mbox "From " line is no field; the first blank
// line ends the block. Names come lower-cased (ASCII), values trimmed with
// their folds joined by one space. Both are views valid only during the call:
// a value on one line is not copied.
namespace HeaderWalk {

void forEach(QByteArrayView header, const std::function<void(QByteArrayView name, QByteArrayView value)> &visit);

} // namespace HeaderWalk
