#include "AutoconfigParser.h"

#include <QXmlStreamReader>

#include <optional>

namespace {

QString fillPlaceholders(QString text, const EmailAddress &address)
{
    text.replace(QLatin1String("%EMAILADDRESS%"), address.address);
    text.replace(QLatin1String("%EMAILLOCALPART%"), address.localPart);
    text.replace(QLatin1String("%EMAILDOMAIN%"), address.domain);
    return text.trimmed();
}

struct RawServer {
    QString type, hostname, port, socketType, username;
    QStringList authentication;
    // An entity the reader could not resolve left a hole in a field.
    bool holed = false;
};

// The server as settings, or nothing when a part is missing or unusable.
std::optional<AccountSettings> toSettings(const RawServer &raw, const EmailAddress &address, const QString &source)
{
    AccountSettings s;
    if (raw.holed)
        return std::nullopt;
    const QString type = raw.type.toLower();
    if (type == QLatin1String("imap"))
        s.protocol = QStringLiteral("IMAP");
    else if (type == QLatin1String("pop3"))
        s.protocol = QStringLiteral("POP3");
    else
        return std::nullopt;
    s.host = fillPlaceholders(raw.hostname, address).toLower();
    bool ok = false;
    const uint port = raw.port.trimmed().toUInt(&ok);
    // A placeholder filled with an odd local part must not make a host name.
    if (!isValidHostName(s.host) || !ok || port == 0 || port > 65535)
        return std::nullopt;
    s.port = quint16(port);
    const QString socket = raw.socketType.trimmed().toUpper();
    if (socket == QLatin1String("SSL"))
        s.security = QStringLiteral("SSL/TLS");
    else if (socket == QLatin1String("STARTTLS"))
        s.security = QStringLiteral("STARTTLS");
    else if (socket == QLatin1String("PLAIN"))
        s.security = QStringLiteral("None");
    else
        return std::nullopt;
    s.userName = fillPlaceholders(raw.username, address);
    if (s.userName.isEmpty())
        s.userName = address.address;
    // Passwords are what this program offers besides OAuth2; a server
    // taking neither (client certificates, GSSAPI only) is no choice.
    bool password = false, oauth = false;
    for (const QString &method : raw.authentication) {
        const QString m = method.trimmed().toLower();
        password = password || m.startsWith(QLatin1String("password-")) || m == QLatin1String("plain");
        oauth = oauth || m == QLatin1String("oauth2");
    }
    if (!password && oauth)
        s.signIn = AccountSettings::SignIn::OAuth2;
    else if (!password && !raw.authentication.isEmpty())
        return std::nullopt;
    s.source = source;
    return s;
}

} // namespace

QList<AccountSettings> parseAutoconfig(const QByteArray &xml, const EmailAddress &address, const QString &source)
{
    QList<AccountSettings> result;
    QXmlStreamReader reader(xml);
    // The path of open elements, to know where a text belongs.
    QStringList path;
    RawServer server;
    bool sawRoot = false;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QString name = reader.name().toString();
            if (path.isEmpty()) {
                if (name != QLatin1String("clientConfig"))
                    return {};
                sawRoot = true;
            }
            path << name;
            if (name == QLatin1String("incomingServer") && path.size() == 3
                && path.at(1) == QLatin1String("emailProvider"))
                server =
                    RawServer{reader.attributes().value(QLatin1String("type")).toString(), {}, {}, {}, {}, {}, false};
        } else if (token == QXmlStreamReader::EndElement) {
            if (path.size() == 3 && path.last() == QLatin1String("incomingServer")) {
                if (auto s = toSettings(server, address, source); s && !result.contains(*s))
                    result << *s;
            }
            path.removeLast();
        } else if (token == QXmlStreamReader::EntityReference && path.size() >= 3
                   && path.at(2) == QLatin1String("incomingServer")) {
            server.holed = true;
        } else if (token == QXmlStreamReader::Characters && path.size() == 4
                   && path.at(2) == QLatin1String("incomingServer")) {
            const QString text = reader.text().toString();
            const QString &field = path.last();
            if (field == QLatin1String("hostname"))
                server.hostname += text;
            else if (field == QLatin1String("port"))
                server.port += text;
            else if (field == QLatin1String("socketType"))
                server.socketType += text;
            else if (field == QLatin1String("username"))
                server.username += text;
            else if (field == QLatin1String("authentication"))
                server.authentication << text;
        }
    }
    if (reader.hasError() || !sawRoot)
        return {};
    return result;
}
