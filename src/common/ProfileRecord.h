#pragma once

#include "MailProtocolKind.h"
#include "MailReason.h"

#include <QString>

// The current profile's settings, texts named as their stored values.
// The two passwords are held plain in memory.
struct ProfileSettingsRecord {
    QString EmailHost;
    QString EmailPort = QStringLiteral("110");
    QString EmailUserid;
    QString EmailPassword;
    QString Autodial = QStringLiteral("0");
    QString DialupNumber;
    QString DialupUserID;
    QString DialupPassword;
    // Connection security: "None", "STARTTLS" or "SSL/TLS".
    QString EmailSecurity = QStringLiteral("None");
    // SHA-256 fingerprint (lower-case hex) of a certificate the user chose to
    // trust for this profile's server; empty when none.
    QString TrustedCertificate;
    // How the login proves who the user is: "Password" (USER/PASS, AUTH
    // PLAIN) or "OAuth2" (a bearer token through SASL XOAUTH2/OAUTHBEARER).
    QString SignInMethod = QStringLiteral("Password");
    // OAuth2: the provider preset ("Google", "Microsoft", "Other"), the
    // registered desktop client, its endpoints and the scope asked for.
    QString OAuthProvider;
    QString OAuthClientId;
    QString OAuthClientSecret;
    QString OAuthAuthorizeUrl;
    QString OAuthTokenUrl;
    QString OAuthScope;
    // Secret: kept like a password. Empty until the user signed in.
    QString OAuthRefreshToken;
    // Held in memory only, never stored.
    QString OAuthAccessToken;
    qint64 OAuthAccessExpiry = 0; // seconds since the epoch; 0 unknown
    // Why a stored secret could not be read (a locked keyring); empty when
    // every secret was read. The secret then reads as empty and must be
    // asked for, never used as it is.
    QString SecretProblem;
    // What to do about it beyond entering the secret: SignInAgain when the
    // keyring lost the OAuth2 sign-in. Held in memory only, as the problem.
    MailReason SecretAdvice = MailReason::None;
    // The mail protocol: "POP3" (every profile written before IMAP) or "IMAP".
    QString MailProtocol = QStringLiteral("POP3");
    // IMAP: the folder screened, what Empty Recycle Bin does with its rows
    // ("Junk" and "Trash" move them there, "Delete" removes them) and the
    // folder they go to when the user picked one (empty: the server's own
    // Junk or Trash folder).
    QString ImapFolder = QStringLiteral("INBOX");
    QString ImapEmptyAction = QStringLiteral("Junk");
    QString ImapTargetFolder;
    // "1" when the timer's --delete may delete what the learning judged spam
    // over POP3; "0" (the default) keeps it in the Recycle Bin for review.
    QString DeleteLearnedSpam = QStringLiteral("0");
    // "1" when the profile learns in the pool every such profile shares;
    // "0" (the default): its lessons are its own.
    QString ShareLearning = QStringLiteral("0");
    // ManageSieve (rules on the server): a port other than the one DNS or
    // 4190 gives, and "None", "STARTTLS" or "SSL/TLS"; empty when not set.
    // Set by hand in the settings file; the window keeps them as they are.
    QString SievePort;
    QString SieveSecurity;

    MailProtocolKind protocol() const { return mailProtocolKind(MailProtocol); }
    // Whose learning the profile `name` uses: its own, or the shared one.
    QString learningName(const QString &name) const { return learningNameOf(name, ShareLearning); }
    static QString learningNameOf(const QString &name, const QString &shareLearning)
    {
        // No profile name holds a backslash: the shared pool's can be no
        // profile's. Without a profile there is nothing to learn for.
        return shareLearning == QLatin1String("1") && !name.isEmpty() ? QStringLiteral("\\shared") : name;
    }

    // The secret problem of `other`, with its advice.
    void takeSecretProblem(const ProfileSettingsRecord &other)
    {
        SecretProblem = other.SecretProblem;
        SecretAdvice = other.SecretAdvice;
    }

    bool usesOAuth2() const;
    // Configured when host, port and user are set and there is a way to
    // prove who the user is: a password, or an OAuth2 client to sign in with.
    bool isConfigured() const;
};
