#include "AccountSettings.h"

#include <QUrl>

#include <algorithm>
#include <cctype>

EmailAddress EmailAddress::parse(const QString &text)
{
    EmailAddress result;
    const QString trimmed = text.trimmed();
    const qsizetype at = trimmed.lastIndexOf(QLatin1Char('@'));
    if (at <= 0 || at == trimmed.size() - 1)
        return result;
    const QString local = trimmed.left(at);
    const QString domain = trimmed.mid(at + 1).toLower();
    // A domain to look up: at least two labels, none empty, no spaces.
    const QStringList labels = domain.split(QLatin1Char('.'));
    if (labels.size() < 2 || labels.contains(QString()) || domain.contains(QLatin1Char(' '))
        || local.contains(QLatin1Char(' ')))
        return result;
    result.localPart = local;
    result.domain = domain;
    result.address = local + QLatin1Char('@') + domain;
    return result;
}

QString AccountSettings::describe() const
{
    QString signInText;
    switch (signIn) {
    case SignIn::Password:
        signInText = QStringLiteral("password");
        break;
    case SignIn::AppPassword:
        signInText = QStringLiteral("app password");
        break;
    case SignIn::OAuth2:
        signInText = QStringLiteral("OAuth2 (%1)").arg(oauthProvider);
        break;
    }
    const QString securityText =
        isClearText() ? QStringLiteral("None, NOT ENCRYPTED: the password would be sent in clear") : security;
    return QStringLiteral("%1 %2:%3 %4, user %5, %6 (%7)")
        .arg(protocol, host, QString::number(port), securityText, userName, signInText, source);
}

int preferenceRank(const AccountSettings &settings)
{
    // An eavesdropper reads a password sent in clear whatever the protocol,
    // so security outranks the protocol's comfort.
    int securityRank = 2;
    if (settings.security == QLatin1String("SSL/TLS"))
        securityRank = 0;
    else if (settings.security == QLatin1String("STARTTLS"))
        securityRank = 1;
    return securityRank * 2 + (settings.protocol == QLatin1String("IMAP") ? 0 : 1);
}

void sortByPreference(QList<AccountSettings> &choices)
{
    std::stable_sort(choices.begin(), choices.end(), [](const AccountSettings &a, const AccountSettings &b) {
        return preferenceRank(a) < preferenceRank(b);
    });
}

bool isValidHostName(const QString &host)
{
    const QByteArray ace = QUrl::toAce(host);
    if (ace.isEmpty() || ace.size() > 253)
        return false;
    for (const QByteArray &label : ace.split('.')) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith('-') || label.endsWith('-'))
            return false;
        for (const char c : label) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
                return false;
        }
    }
    return true;
}

bool isInDomain(const QString &host, const QString &domain)
{
    return host.compare(domain, Qt::CaseInsensitive) == 0
        || host.endsWith(QLatin1Char('.') + domain, Qt::CaseInsensitive);
}

void fillProfileSettings(const AccountSettings &found, ProfileSettingsRecord &record)
{
    record.MailProtocol = found.protocol;
    record.EmailHost = found.host;
    record.EmailPort = QString::number(found.port);
    record.EmailSecurity = found.security;
    record.EmailUserid = found.userName;
    // A trust given to another server does not carry over.
    record.TrustedCertificate.clear();
    if (found.signIn == AccountSettings::SignIn::OAuth2) {
        record.SignInMethod = QStringLiteral("OAuth2");
        record.OAuthProvider = found.oauthProvider;
    } else {
        record.SignInMethod = QStringLiteral("Password");
    }
}
