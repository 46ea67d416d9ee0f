#include "SecureChannel.h"

#include "ProfileRecord.h"

ConnectionSecurity connectionSecurity(const ProfileSettingsRecord &settings)
{
    const QString value = settings.EmailSecurity.trimmed();
    if (value.isEmpty())
        return settings.EmailPort.trimmed() == QLatin1String("995") ? ConnectionSecurity::Implicit
                                                                    : ConnectionSecurity::None;
    if (value.compare(QLatin1String("None"), Qt::CaseInsensitive) == 0)
        return ConnectionSecurity::None;
    if (value.compare(QLatin1String("STARTTLS"), Qt::CaseInsensitive) == 0)
        return ConnectionSecurity::StartTls;
    if (value.compare(QLatin1String("SSL/TLS"), Qt::CaseInsensitive) == 0)
        return ConnectionSecurity::Implicit;
    return ConnectionSecurity::Unknown;
}

QString untrustedCertificateText(const QString &reason)
{
    return QStringLiteral("The server's certificate is not trusted, so the connection was closed before the password "
                          "was sent.\r\n")
        + reason;
}

QString unknownSecurityText(const QString &value)
{
    return QStringLiteral("The connection security \"%1\" is not known, so nothing was sent.\r\n"
                          "Choose None, STARTTLS or SSL/TLS in the settings.")
        .arg(value);
}

QString tlsProtocolName(QSsl::SslProtocol protocol)
{
    switch (protocol) {
    case QSsl::TlsV1_2:
        return QStringLiteral("TLS 1.2");
    case QSsl::TlsV1_3:
        return QStringLiteral("TLS 1.3");
    default:
        return QStringLiteral("TLS");
    }
}
