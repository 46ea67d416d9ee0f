#pragma once

#include <QByteArrayList>
#include <QByteArrayView>

class TokenList;

// The fields signers and receiving servers write in a fixed grammar
// (DKIM-Signature, ARC-*, Authentication-Results): among the longest of a
// modern header, mostly hashes and signatures. They are read for the few
// facts they hold (who signed, what the checks found), not word by word.
namespace AuthFields {

// Whether `name` (lower case) is one of them; if so its tokens are added,
// and a DKIM signer's domain appended to `signers`.
bool read(QByteArrayView name, QByteArrayView value, TokenList &tokens, QByteArrayList &signers);

} // namespace AuthFields
