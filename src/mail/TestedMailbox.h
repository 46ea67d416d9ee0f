#pragma once

#include "MailResult.h"
#include "SecureChannel.h"

#include <QString>
#include <QStringList>
#include <functional>

// The steps Test Connection takes, each protocol its own way.
class TestedMailbox {
public:
    virtual ~TestedMailbox() = default;
    virtual MailResult connect() = 0;
    virtual MailResult login() = 0;
    // What the server holds, said after the login ("3 messages waiting");
    // a failure only when the step was refused.
    virtual MailResult look(QStringList &said, const std::function<void(const QString &)> &announce) = 0;
    virtual void quit() = 0;
    virtual void close() = 0;
    virtual bool isEncrypted() const = 0;
    virtual QString protocolName() const = 0;
    virtual CertificateTrust certificateTrust() const = 0;
};

// "1 message waiting", "3 messages waiting".
QString waitingText(qint64 count);
