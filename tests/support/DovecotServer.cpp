#include "DovecotServer.h"

#include "ProfileRecord.h"

#include <QCryptographicHash>
#include <QSslCertificate>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <unistd.h>

namespace testsupport {

namespace {
// The unprivileged owner of the maildir; Dovecot refuses to serve mail as root.
constexpr int kMailUid = 65534;
constexpr int kMailGid = 65534;

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}
} // namespace

DovecotServer::DovecotServer()
{
    for (const char *sub : {"run", "state", "home/Maildir/new", "home/Maildir/cur", "home/Maildir/tmp"})
        QDir(m_dir.path()).mkpath(QString::fromLatin1(sub));
}

DovecotServer::~DovecotServer()
{
    stop();
}

bool DovecotServer::available(QString *why)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dovecot"),
                                       {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")})
            .isEmpty()) {
        if (why)
            *why = QStringLiteral("dovecot is not installed");
        return false;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty()) {
        if (why)
            *why = QStringLiteral("openssl is not installed");
        return false;
    }
    if (::geteuid() != 0) {
        if (why)
            *why = QStringLiteral("a private dovecot needs root");
        return false;
    }
    return true;
}

void DovecotServer::setCertificateNames(const QString &commonName, const QStringList &altNames)
{
    m_commonName = commonName;
    m_altNames = altNames;
}

bool DovecotServer::makeCertificate(QString *error)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                   path(QStringLiteral("key.pem")), QStringLiteral("-out"), path(QStringLiteral("cert.pem")),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=") + m_commonName, QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=") + m_altNames.join(QLatin1Char(','))});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
        *error = QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(openssl.readAllStandardError());
        return false;
    }
    return true;
}

QByteArray DovecotServer::sieveConfig() const
{
    if (!m_sieve.on)
        return {};
    QByteArray conf = "postmaster_address = postmaster@localhost\n"
                      "lda_mailbox_autocreate = yes\n"
                      "protocol lda {\n  mail_plugins = sieve\n}\n"
                      "service managesieve-login {\n  inet_listener sieve {\n    port = "
        + QByteArray::number(m_sievePort) + "\n  }\n}\n" + "plugin {\n  sieve = file:~/sieve;active=~/.dovecot.sieve\n";
    if (m_sieve.maxScriptSize > 0)
        conf += "  sieve_max_script_size = " + QByteArray::number(m_sieve.maxScriptSize) + "\n";
    if (!m_sieve.extensions.isEmpty())
        conf += "  sieve_extensions = " + m_sieve.extensions.toUtf8() + "\n";
    return conf + "}\n";
}

bool DovecotServer::deliver(const QByteArray &message, QString *error)
{
    QProcess lda;
    lda.setProcessChannelMode(QProcess::MergedChannels);
    lda.start(QStringLiteral("/usr/lib/dovecot/dovecot-lda"),
              {QStringLiteral("-c"), path(QStringLiteral("dovecot.conf")), QStringLiteral("-d"), user(),
               QStringLiteral("-f"), QStringLiteral("sender@localhost")});
    if (!lda.waitForStarted(10000)) {
        *error = QStringLiteral("dovecot-lda did not start");
        return false;
    }
    lda.write(message);
    lda.closeWriteChannel();
    if (!lda.waitForFinished(60000) || lda.exitStatus() != QProcess::NormalExit || lda.exitCode() != 0) {
        lda.kill();
        *error = QStringLiteral("dovecot-lda failed: ") + QString::fromLocal8Bit(lda.readAll()) + logText();
        return false;
    }
    return true;
}

bool DovecotServer::writeConfig(QString *error)
{
    const QString base = m_dir.path();
    const bool oauth = m_introspection.isValid();
    const QString home = path(QStringLiteral("home"));
    const QByteArray passwd = QStringLiteral("%1:{PLAIN}%2:%3:%4::%5::\n")
                                  .arg(user(), password())
                                  .arg(kMailUid)
                                  .arg(kMailGid)
                                  .arg(home)
                                  .toUtf8();
    const QByteArray conf = QStringLiteral("base_dir = %1/run\n"
                                           "state_dir = %1/state\n"
                                           "log_path = %1/dovecot.log\n"
                                           "protocols = pop3 imap%8\n"
                                           "listen = 127.0.0.1\n"
                                           "ssl = yes\n"
                                           "ssl_cert = <%1/cert.pem\n"
                                           "ssl_key = <%1/key.pem\n"
                                           "disable_plaintext_auth = no\n"
                                           "auth_mechanisms = %4\n"
                                           "mail_location = maildir:~/Maildir\n"
                                           "first_valid_uid = 1\n"
                                           "default_internal_user = dovecot\n"
                                           "default_login_user = dovenull\n"
                                           "%5"
                                           "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN %1/passwd\n}\n"
                                           "userdb {\n  driver = passwd-file\n  args = %1/passwd\n}\n"
                                           "service pop3-login {\n"
                                           "  inet_listener pop3 {\n    port = %2\n  }\n"
                                           "  inet_listener pop3s {\n    port = %3\n    ssl = yes\n  }\n"
                                           "}\n"
                                           "service imap-login {\n"
                                           "  inet_listener imap {\n    port = %6\n  }\n"
                                           "  inet_listener imaps {\n    port = %7\n    ssl = yes\n  }\n"
                                           "}\n"
                                           "namespace inbox {\n  inbox = yes\n  separator = /\n"
                                           "  mailbox Junk {\n    special_use = \\Junk\n    auto = subscribe\n  }\n"
                                           "  mailbox Trash {\n    special_use = \\Trash\n    auto = subscribe\n  }\n"
                                           "}\n")
                                .arg(base)
                                .arg(m_plainPort)
                                .arg(m_tlsPort)
                                .arg(oauth ? QStringLiteral("plain xoauth2 oauthbearer") : QStringLiteral("plain"),
                                     oauth ? QStringLiteral("passdb {\n  driver = oauth2\n  mechanisms = xoauth2 "
                                                            "oauthbearer\n  args = %1/oauth2.conf.ext\n}\n")
                                                 .arg(base)
                                           : QString())
                                .arg(m_imapPort)
                                .arg(m_imapTlsPort)
                                .arg(m_sieve.on ? QStringLiteral(" sieve") : QString())
                                .toUtf8()
        + "pop3_uidl_format = %08Xu%08Xv\n" + sieveConfig();
    const QByteArray oauthConf = "introspection_mode = post\nintrospection_url = " + m_introspection.toEncoded()
        + "\nforce_introspection = yes\nusername_attribute = username\nactive_attribute = active\n"
          "active_value = true\n";
    if (oauth && !writeFile(path(QStringLiteral("oauth2.conf.ext")), oauthConf)) {
        *error = QStringLiteral("cannot write the dovecot OAuth2 configuration");
        return false;
    }
    if (!writeFile(path(QStringLiteral("passwd")), passwd) || !writeFile(path(QStringLiteral("dovecot.conf")), conf)) {
        *error = QStringLiteral("cannot write the dovecot configuration");
        return false;
    }
    // Dovecot's unprivileged processes must reach the files; the maildir
    // belongs to the mail user.
    QFile::setPermissions(base,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                              | QFile::ReadOther | QFile::ExeOther);
    const QByteArray homeLocal = home.toLocal8Bit();
    for (const char *sub : {"", "/Maildir", "/Maildir/new", "/Maildir/cur", "/Maildir/tmp"}) {
        if (::chown((homeLocal + sub).constData(), kMailUid, kMailGid) != 0) {
            *error = QStringLiteral("cannot give the maildir to the mail user");
            return false;
        }
    }
    return true;
}

bool DovecotServer::start(QString *error)
{
    QString why;
    if (!available(&why)) {
        *error = why;
        return false;
    }
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    if (!makeCertificate(error))
        return false;
    // A free port can be taken by someone else before dovecot binds it: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        // Held together, so that the five differ.
        QTcpServer probes[5];
        quint16 *ports[] = {&m_plainPort, &m_tlsPort, &m_imapPort, &m_imapTlsPort, &m_sievePort};
        bool bound = true;
        for (int i = 0; i < 5; ++i) {
            bound = bound && probes[i].listen(QHostAddress::LocalHost, 0);
            *ports[i] = bound ? probes[i].serverPort() : 0;
        }
        for (QTcpServer &probe : probes)
            probe.close();
        if (!bound || !writeConfig(error))
            continue;
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("dovecot"),
                        {QStringLiteral("-F"), QStringLiteral("-c"), path(QStringLiteral("dovecot.conf"))});
        if (!m_process.waitForStarted(10000))
            continue;
        QDeadlineTimer deadline(4000);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_plainPort);
            if (probe.waitForConnected(500) && probe.waitForReadyRead(2000) && probe.readAll().startsWith("+OK"))
                return true;
            QThread::msleep(100);
        }
        stop();
    }
    *error = QStringLiteral("dovecot did not start: ") + logText() + QString::fromLocal8Bit(m_process.readAll());
    return false;
}

void DovecotServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QByteArray DovecotServer::certificatePem() const
{
    QFile f(path(QStringLiteral("cert.pem")));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString DovecotServer::certificateFingerprint() const
{
    return QString::fromLatin1(QSslCertificate(certificatePem()).digest(QCryptographicHash::Sha256).toHex());
}

ProfileSettingsRecord DovecotServer::imapProfile() const
{
    ProfileSettingsRecord s;
    s.EmailHost = QStringLiteral("127.0.0.1");
    s.EmailPort = QString::number(imapPort());
    s.MailProtocol = QStringLiteral("IMAP");
    s.EmailUserid = user();
    s.EmailPassword = password();
    s.EmailSecurity = QStringLiteral("STARTTLS");
    s.TrustedCertificate = certificateFingerprint();
    s.SievePort = QString::number(sievePort());
    return s;
}

bool DovecotServer::addMessage(const QByteArray &message)
{
    ++m_messages;
    const QString file = path(QStringLiteral("home/Maildir/new/%1.trelvik-test").arg(m_messages));
    if (!writeFile(file, message))
        return false;
    return ::chown(file.toLocal8Bit().constData(), kMailUid, kMailGid) == 0;
}

int DovecotServer::messageCount(const QString &folder) const
{
    // Maildir++ keeps a folder as ".Name" beside the inbox's own folders.
    const QString maildir = path(QStringLiteral("home/Maildir/.") + folder);
    return int(QDir(maildir + QStringLiteral("/new")).entryList(QDir::Files).size()
               + QDir(maildir + QStringLiteral("/cur")).entryList(QDir::Files).size());
}

int DovecotServer::messageCount() const
{
    return int(QDir(path(QStringLiteral("home/Maildir/new"))).entryList(QDir::Files).size()
               + QDir(path(QStringLiteral("home/Maildir/cur"))).entryList(QDir::Files).size());
}

QString DovecotServer::logText() const
{
    QFile f(path(QStringLiteral("dovecot.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace testsupport
