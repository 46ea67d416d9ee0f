#pragma once

#include "ProfileRecord.h"

#include <QList>
#include <QString>

// An email address split where the domain starts. Invalid (empty parts)
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
    // One line for a list: "IMAP imap.example.com:993 SSL/TLS, user ... (source)";
    // a choice without encryption says so in words.
    QString describe() const;
    // Connects without encryption: a password would cross the network in clear.
    bool isClearText() const { return security == QLatin1String("None"); }
};

// How much a choice is preferred: security first (SSL/TLS before STARTTLS
// before none), then IMAP before POP3. Lower is better.
int preferenceRank(const AccountSettings &settings);
// Stable: choices of one rank keep the order they were found in.
void sortByPreference(QList<AccountSettings> &choices);

// A host name that can be looked up: letters, digits and hyphens in labels
// of 1 to 63 characters (international names in their ASCII form), no empty
// label, at most 253 characters.
bool isValidHostName(const QString &host);
// `host` is `domain` or a name inside it.
bool isInDomain(const QString &host, const QString &domain);

// Fills the server, user and sign-in fields of `record`; the rest (passwords,
// dial-up, folders) stays as it is.
void fillProfileSettings(const AccountSettings &found, ProfileSettingsRecord &record);
