#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

struct ProfileSettingsRecord;

namespace testsupport {

// A private Dovecot POP3 and IMAP server for integration tests: its own configuration,
// a certificate made for the run, one user with a maildir, all in a temporary
// folder; it listens on 127.0.0.1 only, on free ports, and is stopped when the
// object goes. Dovecot must be installed and the tests must run as root (it
// drops privileges itself); otherwise available() is false. IMAP has the
// special-use folders Junk (\Junk) and Trash (\Trash).
class DovecotServer {
public:
    DovecotServer();
    ~DovecotServer();
    DovecotServer(const DovecotServer &) = delete;
    DovecotServer &operator=(const DovecotServer &) = delete;

    static bool available(QString *why = nullptr);

    // The names the certificate of the next start() is made for: its common
    // name and subjectAltName entries ("DNS:localhost", "IP:127.0.0.1").
    void setCertificateNames(const QString &commonName, const QStringList &altNames);

    // The next start() also takes OAuth2 bearer tokens (SASL XOAUTH2 and
    // OAUTHBEARER), checked at this introspection endpoint (RFC 7662, POST).
    void setOAuth2Introspection(const QUrl &url) { m_introspection = url; }

    // The next start() also serves ManageSieve on sievePort() and runs the
    // user's Sieve script at deliver(); a script over `maxScriptSize` bytes
    // (0: Dovecot's limit) is refused, and `extensions` ("-include", say)
    // changes what its Sieve offers.
    struct SieveSetup {
        bool on = false;
        qint64 maxScriptSize = 0;
        QString extensions;
    };
    void setSieve(const SieveSetup &setup) { m_sieve = setup; }
    quint16 sievePort() const { return m_sievePort; }
    // Delivers a message as the mail system would, through Dovecot's LDA, so
    // that the active Sieve script files it; false (with *error) on failure.
    bool deliver(const QByteArray &message, QString *error);

    bool start(QString *error);
    void stop();

    QString user() const { return QStringLiteral("trelvik"); }
    // Not ASCII, so that every login also checks the password's encoding.
    QString password() const { return QStringLiteral("s3cret p\u00e4ssw\u00f6rd\u20ac"); }
    // Plain POP3 (with STLS offered) and POP3 over TLS from the first byte.
    quint16 plainPort() const { return m_plainPort; }
    quint16 tlsPort() const { return m_tlsPort; }
    // Plain IMAP (with STARTTLS offered) and IMAP over TLS from the first byte.
    quint16 imapPort() const { return m_imapPort; }
    quint16 imapTlsPort() const { return m_imapTlsPort; }
    // The server's self-signed certificate (by default CN and SAN "localhost",
    // 127.0.0.1).
    QByteArray certificatePem() const;
    // The SHA-256 fingerprint of that certificate, as a profile trusts it.
    QString certificateFingerprint() const;
    // An IMAP profile of this server's user over STARTTLS, trusting its
    // certificate, with its ManageSieve port.
    ProfileSettingsRecord imapProfile() const;

    // Drops a message into the user's maildir; returns false on failure.
    bool addMessage(const QByteArray &message);
    // Messages now in the maildir (new and cur).
    int messageCount() const;
    // Messages in another folder ("Junk", "Trash"), as IMAP names it.
    int messageCount(const QString &folder) const;
    QString logText() const;

private:
    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }
    bool writeConfig(QString *error);
    QByteArray sieveConfig() const;
    bool makeCertificate(QString *error);

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_plainPort = 0;
    quint16 m_tlsPort = 0;
    quint16 m_imapPort = 0;
    quint16 m_imapTlsPort = 0;
    quint16 m_sievePort = 0;
    SieveSetup m_sieve;
    int m_messages = 0;
    QUrl m_introspection;
    QString m_commonName = QStringLiteral("localhost");
    QStringList m_altNames{QStringLiteral("DNS:localhost"), QStringLiteral("IP:127.0.0.1")};
};

} // namespace testsupport
