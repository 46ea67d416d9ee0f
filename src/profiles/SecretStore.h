#pragma once

#include <QString>

// The secrets a profile keeps, one entry each.
enum class SecretKind { EmailPassword, DialupPassword, OAuthRefreshToken };

// Where a profile's secrets are kept: the desktop keyring, or the settings
// file in scrambled form when no keyring answers.
class SecretStore {
public:
    enum class Status {
        Ok,
        NotFound, // the store answered: there is no such entry
        NoKeyring, // nothing answered (no Secret Service on this desktop)
        Refused, // the keyring refused, failed, or the user cancelled its prompt
        Locked, // the keyring holds the entry (or would) but is locked
    };
    struct Answer {
        Status status = Status::Ok;
        QString secret; // read only
        QString error; // for the user, when not Ok
    };

    virtual ~SecretStore() = default;
    virtual Answer read(const QString &profile, SecretKind kind) = 0;
    virtual Answer write(const QString &profile, SecretKind kind, const QString &secret) = 0;
    virtual Answer remove(const QString &profile, SecretKind kind) = 0;
};

// The settings value that holds a kind's scrambled form ("EmailPassword", ...).
QString secretValueName(SecretKind kind);
// What a user reads in the keyring manager: "Email password of profile Home".
QString secretLabel(const QString &profile, SecretKind kind);
