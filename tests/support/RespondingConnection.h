#pragma once

#include "MemoryConnection.h"

#include <functional>

// A MemoryConnection that answers as it is written to: each line the
// client ends with CR LF goes to the responder, and what it returns is
// served in small pieces, each on a turn of its own, as a slow link splits
// it. The greeting is served when the connection opens.
class RespondingConnection : public MemoryConnection {
    Q_OBJECT
public:
    using Responder = std::function<QByteArray(const QByteArray &line)>;
    RespondingConnection(const QByteArray &greeting, Responder responder, qsizetype pieceSize = 5,
                         QObject *parent = nullptr);

    bool write(const QByteArray &bytes) override;

private:
    Responder m_responder;
    qsizetype m_pieceSize;
    QByteArray m_pending;
};
