#pragma once

#include "ProfileRecord.h"

#include <QList>
#include <QString>

// An e-mail address split where the domain starts. Invalid (empty parts)
// when the text is not one address.
struct EmailAddress {
    QString address; // as typed, trimmed, the domain lower-cased
    QString localPart;
    QString domain;

    static EmailAddress parse(const QString &text);
    bool isValid() const { return !localPart.isEmpty() && !domain.isEmpty(); }
};

// One way to reach the incoming server of an address, as found by the
// search, with where it was found. Texts are the profile's stored values.
struct AccountSettings {
    enum class SignIn { Password, AppPassword, OAuth2 };

    QString protocol; // "IMAP" or "POP3"
    QString host;
    quint16 port = 0;
    QString security; // "None", "STARTTLS" or "SSL/TLS"
    QString userName; // the address, its local part or what the provider named
    SignIn signIn = SignIn::Password;
    QString oauthProvider; // the OAuth2 preset when signIn is OAuth2
    QString source; // "provider table", "autoconfig from <url>", "DNS SRV", "probe"

    bool operator==(const AccountSettings &) const = default;
    // One line for a list: "IMAP imap.example.com:993 SSL/TLS, user ... (source)".
    QString describe() const;
};

// How much a choice is preferred: IMAP before POP3, SSL/TLS before STARTTLS
// before none. Lower is better.
int preferenceRank(const AccountSettings &settings);
// Stable: choices of one rank keep the order they were found in.
void sortByPreference(QList<AccountSettings> &choices);

// Fills the server, user and sign-in fields of `record`; the rest (passwords,
// dial-up, folders) stays as it is.
void fillProfileSettings(const AccountSettings &found, ProfileSettingsRecord &record);
