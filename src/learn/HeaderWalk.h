#pragma once

#include <QByteArrayView>
#include <QVarLengthArray>

// The fields of a header block, unfolded: lines may end in CR LF or LF; a
// leading "+OK" status line or mbox "From " line is no field; the first blank
// line ends the block. Names come lower-cased (ASCII), values trimmed with
// their folds joined by one space. Both are views valid only until the next
// field: a value on one line is not copied.
namespace HeaderWalk {

class Fields {
public:
    explicit Fields(QByteArrayView header);
    // The next field; false once the block has no more.
    bool next(QByteArrayView *name, QByteArrayView *value);

private:
    QByteArrayView m_header;
    qsizetype m_pos = 0;
    // A name lower-cased here, a folded value joined here: on the stack for
    // all but the longest, since every message's header is walked.
    QVarLengthArray<char, 64> m_name;
    QVarLengthArray<char, 2048> m_joined;
};

// Calls visit(name, value) for each field in order. A template: it runs for
// every field of every message.
template <typename Visit>
void forEach(QByteArrayView header, Visit &&visit)
{
    Fields fields(header);
    QByteArrayView name;
    QByteArrayView value;
    while (fields.next(&name, &value))
        visit(name, value);
}

} // namespace HeaderWalk
