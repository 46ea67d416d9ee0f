#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QVarLengthArray>

// The fields of a header block, unfolded: lines may end in CR LF or LF; a
// leading "+OK" status line or mbox "From " line is no field; the first blank
// line ends the block. Names come lower-cased (ASCII), values trimmed with
// their folds joined by one space. A value on one line is not copied.
namespace HeaderWalk {

class Fields {
public:
    explicit Fields(QByteArrayView header);
    // The next field; false once the block has no more. The name is valid
    // until the next call, the value (like the header) while the walk lasts:
    // the tokenizer keeps a few values for the checks made after it.
    bool next(QByteArrayView *name, QByteArrayView *value);

private:
    void append(QByteArrayView bytes);

    QByteArrayView m_header;
    qsizetype m_pos = 0;
    QVarLengthArray<char, 64> m_name;
    // Every folded value joined one after another. A value joined is
    // shorter than its lines, so room for the header's bytes, taken at the
    // first fold, is never outgrown and no value moves.
    QByteArray m_joined;
    qsizetype m_used = 0;
};

// Calls visit(name, value) for each field in order, the value valid during
// the call. A template: it runs for
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
