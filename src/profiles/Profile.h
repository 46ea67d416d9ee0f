#pragma once

#include "Global.h"

#include <QString>
#include <QStringList>

inline const QString kSettingKeyPrefix = QStringLiteral("Software\\Trelvik\\Setting\\");
inline const QString kTrelvikKey = QStringLiteral("Software\\Trelvik");

// The three connection securities, as stored in "EmailSecurity".
inline const QString kSecurityNone = QStringLiteral("None");
inline const QString kSecurityStartTls = QStringLiteral("STARTTLS");
inline const QString kSecuritySslTls = QStringLiteral("SSL/TLS");
// The POP3 ports that imply a security: plain (also STARTTLS) and implicit TLS.
inline const QString kPlainPort = QStringLiteral("110");
inline const QString kTlsPort = QStringLiteral("995");

// The security of a profile saved before it had one: implicit TLS on the
// POP3S port, none anywhere else.
QString DefaultEmailSecurity(const QString &port);

// What the settings dialog preselects for a stored security: one of the
// three in its own spelling (letter case and surrounding spaces of a hand
// edit forgiven), the port default when none is stored, and for a value
// that is none of the three ("TLS", "SSL") a secured one, SSL/TLS on the
// POP3S port and STARTTLS elsewhere: pressing OK must never turn it into a
// password sent in clear. A run reads StoredEmailSecurity instead.
QString EmailSecurityFor(const QString &stored, const QString &port);

// The security a run uses: one of the three in its own spelling, the port
// default when none was ever stored (profiles older than the setting), and
// any other value as it stands, so that the run refuses it before
// connecting: guessing a default there could send the password in clear.
QString StoredEmailSecurity(const QString &stored, const QString &port);

// The port to show after the security changed to `security`: the standard
// port of the old kind becomes the standard port of the new kind; any other
// port is the user's choice and stays.
QString PortForSecurity(const QString &security, const QString &port);

// Fills Global::ProfileSettings from the key "Software\Trelvik\Setting\" + name,
// with the defaults for missing values and the passwords unscrambled.
void LoadProfile(const QString &name);
// The same settings as a value, for a caller that is not the window.
ProfileSettingsRecord ReadProfile(const QString &name);
// The stored profiles' names in the store's order, as the profile box lists
// them.
QStringList ProfileNames();

// Stores the certificate fingerprint (SHA-256, hex) the user trusts for the
// profile's server; an empty fingerprint withdraws the trust. Separators and
// letter case are dropped so that any spelling compares alike. When the
// profile is the current one, ProfileSettings follows.
void SaveTrustedCertificate(const QString &profile, const QString &fingerprint);

// Whether a port text is a whole number from 1 to 65535, written in digits
// only (no sign, no spaces).
bool IsPortText(const QString &text);
