#pragma once

#include "ProfileKeys.h"
#include "ProfileRecord.h"

#include <QString>
#include <QStringList>

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

// A profile's settings as the store reads them, for a caller that holds no
// store of its own (ProfileStore::read with the desktop keyring).
ProfileSettingsRecord ReadProfile(const QString &name);
// The stored profiles' names in the store's order (ProfileStore::names).
QStringList ProfileNames();

// Whether a port text is a whole number from 1 to 65535, written in digits
// only (no sign, no spaces).
bool IsPortText(const QString &text);
