#pragma once

#include <QString>

// The address of a "From:" value as the sender's mail program wrote it: the
// one in angle brackets when there is one, else the bare address; display
// names (quoted or not, encoded or not) and comments are not part of it. Of
// several addresses the first; of a group its first member. Empty when the
// value holds no address with an "@".
QString SenderAddress(const QString &fromValue);
