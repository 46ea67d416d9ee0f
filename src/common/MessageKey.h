#pragma once

#include <QtGlobal>

class MailboxSession;

// What a mailbox removes a message by, made by the mailbox session that
// listed or found it and read only by that session. Everything above the
// mailbox carries keys and may compare them, but never looks inside: a POP3
// message number and an IMAP UID mean different things, and a key handed
// to another session (even one of the same protocol) is refused there.
class MessageKey {
public:
    MessageKey() = default;

    bool isNull() const { return m_issuer == 0; }
    friend bool operator==(const MessageKey &, const MessageKey &) = default;

private:
    friend class MailboxSession;
    MessageKey(quint64 issuer, quint64 value)
        : m_issuer(issuer)
        , m_value(value)
    {
    }

    quint64 m_issuer = 0; // the session that made it; 0 for none
    quint64 m_value = 0;
};

Q_DECLARE_TYPEINFO(MessageKey, Q_PRIMITIVE_TYPE);
