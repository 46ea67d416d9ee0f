#pragma once

#include <QByteArray>
#include <QByteArrayView>

// A header block kept small in memory while its row lives: packed (Zstandard,
// a fast level) against a preset dictionary of the words most headers are
// made of, so that even a 2 KB block gains from them. A block under 1 KB is
// kept as it is: packing it would cost more time than the bytes it saves. A mailbox's blocks are
// mostly Received chains and base64 signatures; they come to a little under
// half their size. Nothing of this ever leaves the process.
namespace PackedHeader {

// Packs many blocks in turn with one compressor state and one digested
// dictionary: setting them up costs more than packing a small block.
class Packer {
public:
    Packer();
    ~Packer();
    Packer(const Packer &) = delete;
    Packer &operator=(const Packer &) = delete;

    // Empty for an empty block.
    QByteArray pack(QByteArrayView block);

private:
    struct State;
    State *m_state;
};

// Empty for an empty block.
QByteArray pack(QByteArrayView block);
// The block pack() was given; empty for an empty (or damaged) packing.
QByteArray unpack(QByteArrayView packed);

} // namespace PackedHeader
