#pragma once

#include <QString>

// Every key path and value name of the stored profiles, in one place. These
// are names in users' settings files: never rename one.
inline const QString kTrelvikKey = QStringLiteral("Software\\Trelvik");
// A profile's settings live under this prefix + the profile's name.
inline const QString kSettingKeyPrefix = QStringLiteral("Software\\Trelvik\\Setting\\");

namespace ProfileKeys {

// Under kTrelvikKey: the profile selected at the next start.
inline const QString kLastProfile = QStringLiteral("LastProfile");
// Under kTrelvikKey: deleted profiles whose keyring entries are still to go.
inline const QString kKeyringLeftovers = QStringLiteral("KeyringLeftovers");

// Under kSettingKeyPrefix + name.
inline const QString kEmailHost = QStringLiteral("EmailHost");
inline const QString kEmailPort = QStringLiteral("EmailPort");
// The user ID has been written "EmailUserId" by the settings dialog and read
// as "EmailUserid" by every version; the store compares value names without
// regard to case (keeping the first spelling a file holds), so both are one
// value and every older copy of the program reads what is written here. The
// dialog's spelling is kept so that a saved file reads as it always has.
inline const QString kEmailUserId = QStringLiteral("EmailUserId");
inline const QString kAutodial = QStringLiteral("Autodial");
inline const QString kDialupNumber = QStringLiteral("DialupNumber");
inline const QString kDialupUserID = QStringLiteral("DialupUserID");
inline const QString kEmailSecurity = QStringLiteral("EmailSecurity");
// "POP3" when missing: every profile written before IMAP is one.
inline const QString kMailProtocol = QStringLiteral("MailProtocol");
inline const QString kImapFolder = QStringLiteral("ImapFolder");
inline const QString kImapEmptyAction = QStringLiteral("ImapEmptyAction");
inline const QString kImapTargetFolder = QStringLiteral("ImapTargetFolder");
// "1" lets --delete delete learned spam; missing or anything else: it does not.
inline const QString kDeleteLearnedSpam = QStringLiteral("DeleteLearnedSpam");
// "1": the profile learns in the pool shared with every profile that says so.
inline const QString kShareLearning = QStringLiteral("ShareLearning");
inline const QString kSievePort = QStringLiteral("SievePort");
inline const QString kSieveSecurity = QStringLiteral("SieveSecurity");
inline const QString kTrustedCertificate = QStringLiteral("TrustedCertificate");
inline const QString kSignInMethod = QStringLiteral("SignInMethod");
inline const QString kOAuthProvider = QStringLiteral("OAuthProvider");
inline const QString kOAuthClientId = QStringLiteral("OAuthClientId");
inline const QString kOAuthClientSecret = QStringLiteral("OAuthClientSecret");
inline const QString kOAuthAuthorizeUrl = QStringLiteral("OAuthAuthorizeUrl");
inline const QString kOAuthTokenUrl = QStringLiteral("OAuthTokenUrl");
inline const QString kOAuthScope = QStringLiteral("OAuthScope");
// Who signed in with OAuth2, as the provider named the account.
inline const QString kOAuthAccount = QStringLiteral("OAuthAccount");

// The secrets' scrambled forms, and beside each the marker (name + suffix)
// saying that the keyring holds it.
inline const QString kEmailPassword = QStringLiteral("EmailPassword");
inline const QString kDialupPassword = QStringLiteral("DialupPassword");
inline const QString kOAuthRefreshToken = QStringLiteral("OAuthRefreshToken");
inline const QString kSecretPlaceSuffix = QStringLiteral("Store");

} // namespace ProfileKeys
