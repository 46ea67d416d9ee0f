// The search's pure parts: the provider table, the autoconfig file reader,
// the preference among choices and the filling of a profile.
#include "AccountSettings.h"
#include "AutoconfigParser.h"
#include "ProviderTable.h"

#include <QTest>

using SignIn = AccountSettings::SignIn;

class tst_discovery : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void providerByAddress_data();
    void providerByAddress();
    void providerByMx_data();
    void providerByMx();
    void addressParsing_data();
    void addressParsing();
    void autoconfigServers();
    void autoconfigRejects_data();
    void autoconfigRejects();
    void preferenceAndFill();
};

void tst_discovery::providerByAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("imapHost");
    QTest::addColumn<QString>("popHost"); // empty: the provider has no POP3
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("signIn");
    QTest::addColumn<QString>("oauth");
    const int password = int(SignIn::Password), app = int(SignIn::AppPassword), oauth = int(SignIn::OAuth2);
    QTest::newRow("Gmail") << "Ann.Lee@GMail.com"
                           << "imap.gmail.com"
                           << "pop.gmail.com"
                           << "Ann.Lee@gmail.com" << oauth << "Google";
    QTest::newRow("Outlook.com") << "ann@hotmail.com"
                                 << "outlook.office365.com"
                                 << "outlook.office365.com"
                                 << "ann@hotmail.com" << oauth << "Microsoft";
    QTest::newRow("Yahoo") << "ann@ymail.com"
                           << "imap.mail.yahoo.com"
                           << "pop.mail.yahoo.com"
                           << "ann@ymail.com" << app << "";
    QTest::newRow("iCloud") << "ann@me.com"
                            << "imap.mail.me.com"
                            << ""
                            << "ann" << app << "";
    QTest::newRow("AOL") << "ann@aol.com"
                         << "imap.aol.com"
                         << "pop.aol.com"
                         << "ann@aol.com" << app << "";
    QTest::newRow("GMX") << "ann@gmx.de"
                         << "imap.gmx.net"
                         << "pop.gmx.net"
                         << "ann@gmx.de" << password << "";
    QTest::newRow("WEB.DE") << "ann@web.de"
                            << "imap.web.de"
                            << "pop3.web.de"
                            << "ann@web.de" << password << "";
    QTest::newRow("Fastmail") << "ann@fastmail.fm"
                              << "imap.fastmail.com"
                              << "pop.fastmail.com"
                              << "ann@fastmail.fm" << app << "";
    QTest::newRow("mailbox.org") << "ann@mailbox.org"
                                 << "imap.mailbox.org"
                                 << "pop3.mailbox.org"
                                 << "ann@mailbox.org" << password << "";
    QTest::newRow("Posteo") << "ann@posteo.net"
                            << "posteo.de"
                            << "posteo.de"
                            << "ann@posteo.net" << password << "";
    QTest::newRow("Zoho") << "ann@zohomail.com"
                          << "imap.zoho.com"
                          << "pop.zoho.com"
                          << "ann@zohomail.com" << password << "";
}

void tst_discovery::providerByAddress()
{
    QFETCH(QString, address);
    const EmailAddress parsed = EmailAddress::parse(address);
    const ProviderEntry *provider = ProviderTable::forDomain(parsed.domain);
    QVERIFY(provider);
    const QList<AccountSettings> choices = ProviderTable::settingsFor(*provider, parsed);
    QFETCH(QString, popHost);
    QCOMPARE(choices.size(), popHost.isEmpty() ? 1 : 2);
    const AccountSettings &imap = choices.at(0);
    QCOMPARE(imap.protocol, QStringLiteral("IMAP"));
    QTEST(imap.host, "imapHost");
    QCOMPARE(imap.port, quint16(993));
    QCOMPARE(imap.security, QStringLiteral("SSL/TLS"));
    QTEST(imap.userName, "user");
    QTEST(int(imap.signIn), "signIn");
    QTEST(imap.oauthProvider, "oauth");
    QCOMPARE(imap.source, QStringLiteral("provider table"));
    if (!popHost.isEmpty()) {
        QCOMPARE(choices.at(1).protocol, QStringLiteral("POP3"));
        QCOMPARE(choices.at(1).host, popHost);
        QCOMPARE(choices.at(1).port, quint16(995));
    }
}

void tst_discovery::providerByMx_data()
{
    QTest::addColumn<QStringList>("mx");
    QTest::addColumn<QString>("provider"); // empty: none
    QTest::newRow("Workspace") << QStringList{"aspmx.l.google.com.", "alt1.aspmx.l.google.com."} << "Google";
    QTest::newRow("Workspace, new MX") << QStringList{"smtp.google.com"} << "Google";
    QTest::newRow("Microsoft 365") << QStringList{"corp-test.mail.protection.outlook.com"} << "Microsoft";
    // AOL's exchangers sit under Yahoo's: the exact name wins over the suffix.
    QTest::newRow("AOL over Yahoo") << QStringList{"mta6.am0.yahoodns.net", "mx-aol.mail.gm0.yahoodns.net"} << "AOL";
    QTest::newRow("Yahoo") << QStringList{"mta6.am0.yahoodns.net"} << "Yahoo";
    QTest::newRow("look-alike") << QStringList{"mail.evilgoogle.com", "google.com.evil.test"} << "";
    QTest::newRow("own server") << QStringList{"mx.example.org"} << "";
}

void tst_discovery::providerByMx()
{
    QFETCH(QStringList, mx);
    QFETCH(QString, provider);
    const ProviderEntry *found = ProviderTable::forMxHosts(mx);
    QCOMPARE(found ? found->name : QString(), provider);
}

void tst_discovery::addressParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("domain");
    QTest::newRow("plain") << " Ann@Example.ORG "
                           << "Ann"
                           << "example.org";
    QTest::newRow("quoted @ in local part") << "\"a@b\"@example.org"
                                            << "\"a@b\""
                                            << "example.org";
    QTest::newRow("no domain") << "ann@"
                               << ""
                               << "";
    QTest::newRow("single label") << "ann@localhost"
                                  << ""
                                  << "";
    QTest::newRow("empty label") << "ann@example..org"
                                 << ""
                                 << "";
}

void tst_discovery::addressParsing()
{
    QFETCH(QString, text);
    const EmailAddress address = EmailAddress::parse(text);
    QTEST(address.localPart, "local");
    QTEST(address.domain, "domain");
    QCOMPARE(address.isValid(), !address.domain.isEmpty());
}

void tst_discovery::autoconfigServers()
{
    const QByteArray xml = R"(<?xml version="1.0"?>
<clientConfig version="1.1">
  <emailProvider id="example.org">
    <domain>example.org</domain>
    <incomingServer type="pop3">
      <hostname>pop.%EMAILDOMAIN%</hostname><port>995</port><socketType>SSL</socketType>
      <username>%EMAILLOCALPART%</username><authentication>password-cleartext</authentication>
    </incomingServer>
    <incomingServer type="imap">
      <hostname>IMAP.example.org</hostname><port>143</port><socketType>STARTTLS</socketType>
      <username>%EMAILADDRESS%</username>
      <authentication>OAuth2</authentication><authentication>password-encrypted</authentication>
    </incomingServer>
    <incomingServer type="imap">
      <hostname>sso.example.org</hostname><port>993</port><socketType>SSL</socketType>
      <username>%EMAILADDRESS%</username><authentication>OAuth2</authentication>
    </incomingServer>
    <incomingServer type="exchange"><hostname>ews.example.org</hostname></incomingServer>
    <outgoingServer type="smtp"><hostname>smtp.example.org</hostname><port>465</port>
      <socketType>SSL</socketType></outgoingServer>
  </emailProvider>
</clientConfig>)";
    const EmailAddress address = EmailAddress::parse(QStringLiteral("ann@example.org"));
    const QList<AccountSettings> found = parseAutoconfig(xml, address, QStringLiteral("here"));
    QCOMPARE(found.size(), 3);
    QCOMPARE(found.at(0).describe(), QStringLiteral("POP3 pop.example.org:995 SSL/TLS, user ann, password (here)"));
    QCOMPARE(found.at(1).describe(),
             QStringLiteral("IMAP imap.example.org:143 STARTTLS, user ann@example.org, password (here)"));
    QCOMPARE(found.at(2).signIn, SignIn::OAuth2);
}

void tst_discovery::autoconfigRejects_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("address");
    const QByteArray server = "<incomingServer type=\"imap\"><hostname>imap.example.org</hostname>"
                              "<port>993</port><socketType>SSL</socketType></incomingServer>";
    const QString ann = QStringLiteral("ann@example.org");
    QTest::newRow("not closed") << "<clientConfig><emailProvider>" + server << ann;
    QTest::newRow("other root") << "<config><emailProvider>" + server + "</emailProvider></config>" << ann;
    QTest::newRow("not XML") << QByteArray("{\"imap\": \"imap.example.org\"}") << ann;
    QTest::newRow("server outside a provider") << "<clientConfig>" + server + "</clientConfig>" << ann;
    const auto withServer = [](const char *fields) {
        return "<clientConfig><emailProvider><incomingServer type=\"imap\">" + QByteArray(fields)
            + "</incomingServer></emailProvider></clientConfig>";
    };
    QTest::newRow("port out of range") << withServer(
        "<hostname>h.example.org</hostname><port>70000</port><socketType>SSL</socketType>")
                                       << ann;
    QTest::newRow("unknown socket") << withServer(
        "<hostname>h.example.org</hostname><port>993</port><socketType>TLS-ish</socketType>")
                                    << ann;
    QTest::newRow("certificate sign-in only")
        << withServer("<hostname>h.example.org</hostname><port>993</port><socketType>SSL</socketType>"
                      "<authentication>TLS-client-cert</authentication>")
        << ann;
    // An entity the reader does not fetch leaves a hole: "imap..example.org".
    QTest::newRow("unresolved entity")
        << "<?xml version=\"1.0\"?><!DOCTYPE clientConfig [<!ENTITY xxe SYSTEM \"file:///etc/hostname\">]>"
            + withServer("<hostname>imap.&xxe;.example.org</hostname><port>993</port><socketType>SSL</socketType>")
        << ann;
    const QByteArray byLocalPart =
        withServer("<hostname>%EMAILLOCALPART%.example.org</hostname><port>993</port><socketType>SSL</socketType>");
    QTest::newRow("local part with / and ?") << byLocalPart << QStringLiteral("a/b?c@example.org");
    QTest::newRow("local part with a dot at its end") << byLocalPart << QStringLiteral("ann.@example.org");
    QTest::newRow("label of 64 characters") << byLocalPart << QString(64, QLatin1Char('a')) + "@example.org";
    QTest::newRow("hyphen at a label's start") << byLocalPart << QStringLiteral("-ann@example.org");
}

void tst_discovery::autoconfigRejects()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, address);
    const EmailAddress parsed = EmailAddress::parse(address);
    QVERIFY(parsed.isValid());
    const QList<AccountSettings> found = parseAutoconfig(xml, parsed, QString());
    QVERIFY2(found.isEmpty(), qPrintable(found.value(0).describe()));
}

void tst_discovery::preferenceAndFill()
{
    const auto make = [](const char *protocol, const char *security, const char *host) {
        AccountSettings s;
        s.protocol = QLatin1String(protocol);
        s.security = QLatin1String(security);
        s.host = QLatin1String(host);
        s.port = 1;
        return s;
    };
    // Security first, then IMAP before POP3; equals keep their order.
    QList<AccountSettings> choices{make("POP3", "None", "a"),     make("POP3", "SSL/TLS", "b"),
                                   make("IMAP", "None", "c"),     make("POP3", "STARTTLS", "d"),
                                   make("IMAP", "STARTTLS", "e"), make("IMAP", "SSL/TLS", "f"),
                                   make("IMAP", "SSL/TLS", "g")};
    sortByPreference(choices);
    QStringList order;
    for (const AccountSettings &s : choices)
        order << s.host;
    QCOMPARE(order, (QStringList{"f", "g", "b", "e", "d", "c", "a"}));
    // A choice in clear says so in its line; an encrypted one does not.
    QVERIFY2(choices.last().describe().contains(QLatin1String("NOT ENCRYPTED")), qPrintable(choices.last().describe()));
    QVERIFY(!choices.first().describe().contains(QLatin1String("NOT ENCRYPTED")));

    // Filling replaces the server and sign-in but keeps the rest, and drops
    // a trust that belonged to the old server.
    ProfileSettingsRecord record;
    record.EmailPassword = QStringLiteral("secret");
    record.TrustedCertificate = QStringLiteral("ab12");
    record.SignInMethod = QStringLiteral("OAuth2");
    AccountSettings found = make("IMAP", "SSL/TLS", "imap.example.org");
    found.port = 993;
    found.userName = QStringLiteral("ann");
    fillProfileSettings(found, record);
    QCOMPARE(record.MailProtocol, QStringLiteral("IMAP"));
    QCOMPARE(record.EmailHost, QStringLiteral("imap.example.org"));
    QCOMPARE(record.EmailPort, QStringLiteral("993"));
    QCOMPARE(record.EmailSecurity, QStringLiteral("SSL/TLS"));
    QCOMPARE(record.EmailUserid, QStringLiteral("ann"));
    QCOMPARE(record.SignInMethod, QStringLiteral("Password"));
    QCOMPARE(record.EmailPassword, QStringLiteral("secret"));
    QVERIFY(record.TrustedCertificate.isEmpty());
}

QTEST_GUILESS_MAIN(tst_discovery)
#include "tst_discovery.moc"
