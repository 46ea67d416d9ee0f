#pragma once

#include <QByteArray>
#include <QByteArrayView>

// A header block kept small in memory while its row lives: deflated (zlib,
// fastest level) against a preset dictionary of the words most headers are
// made of, so that even a 2 KB block gains from them. A mailbox's blocks are
// mostly Received chains and base64 signatures; they come to a little under
// half their size. Nothing of this ever leaves the process.
namespace PackedHeader {

// Empty for an empty block.
QByteArray pack(QByteArrayView block);
// The block pack() was given; empty for an empty (or damaged) packing.
QByteArray unpack(QByteArrayView packed);

} // namespace PackedHeader
