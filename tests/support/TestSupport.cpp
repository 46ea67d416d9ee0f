#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace testsupport {

namespace {
void setOrUnset(const char *name, bool had, const QByteArray &value)
{
    if (had)
        qputenv(name, value);
    else
        qunsetenv(name);
}
} // namespace

TempHome::TempHome()
    : m_oldConfig(qgetenv("XDG_CONFIG_HOME"))
    , m_oldData(qgetenv("XDG_DATA_HOME"))
    , m_oldRuntime(qgetenv("XDG_RUNTIME_DIR"))
    , m_hadConfig(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
    , m_hadData(qEnvironmentVariableIsSet("XDG_DATA_HOME"))
    , m_hadRuntime(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
{
    QDir(m_dir.path()).mkpath(QStringLiteral("config"));
    QDir(m_dir.path()).mkpath(QStringLiteral("data"));
    QDir(m_dir.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", configHome().toLocal8Bit());
    qputenv("XDG_DATA_HOME", dataHome().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtimeDir().toLocal8Bit());
}

TempHome::~TempHome()
{
    setOrUnset("XDG_CONFIG_HOME", m_hadConfig, m_oldConfig);
    setOrUnset("XDG_DATA_HOME", m_hadData, m_oldData);
    setOrUnset("XDG_RUNTIME_DIR", m_hadRuntime, m_oldRuntime);
}

QString TempHome::configHome() const
{
    return m_dir.path() + QStringLiteral("/config");
}
QString TempHome::dataHome() const
{
    return m_dir.path() + QStringLiteral("/data");
}
QString TempHome::runtimeDir() const
{
    return m_dir.path() + QStringLiteral("/runtime");
}
QString TempHome::appDataFolder() const
{
    return dataHome() + QStringLiteral("/Trelvik");
}

MessageBoxRecorder::MessageBoxRecorder()
{
    m_previous = MessageBox::setHandler([this](const MessageBox::Request &r) { return answer(r); });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    MessageBox::setHandler(std::move(m_previous));
}

void MessageBoxRecorder::expect(const QString &text, const QString &title, MessageBox::Icon icon,
                                MessageBox::Result answer)
{
    m_expected.append({text, title, icon, answer});
}

MessageBox::Result MessageBoxRecorder::answer(const MessageBox::Request &request)
{
    m_shown.append(request);
    if (m_next < m_expected.size()) {
        const Expected &e = m_expected.at(m_next);
        if (e.text == request.text && e.title == request.title && e.icon == request.icon) {
            ++m_next;
            return e.answer;
        }
    }
    m_unexpected.append(QStringLiteral("[%1] %2").arg(request.title, request.text));
    return request.buttons == MessageBox::Buttons::YesNo ? MessageBox::Result::No : MessageBox::Result::Ok;
}

bool MessageBoxRecorder::allMet(QString *why) const
{
    QStringList problems;
    if (!m_unexpected.isEmpty())
        problems << QStringLiteral("unexpected message boxes: ") + m_unexpected.join(QStringLiteral("; "));
    for (int i = m_next; i < m_expected.size(); ++i)
        problems
            << QStringLiteral("expected box not shown: [%1] %2").arg(m_expected.at(i).title, m_expected.at(i).text);
    if (why)
        *why = problems.join(QLatin1Char('\n'));
    return problems.isEmpty();
}

void MessageBoxRecorder::reset()
{
    m_expected.clear();
    m_next = 0;
    m_shown.clear();
    m_unexpected.clear();
}

bool makeTestCertificate(const QString &folder, QByteArray *certificatePem, QByteArray *keyPem, QString *error)
{
    const QString cert = folder + QStringLiteral("/cert.pem");
    const QString key = folder + QStringLiteral("/key.pem");
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"), key,
                   QStringLiteral("-out"), cert, QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1")});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
        *error = QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(openssl.readAllStandardError());
        return false;
    }
    QFile certFile(cert);
    QFile keyFile(key);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the certificate");
        return false;
    }
    *certificatePem = certFile.readAll();
    *keyPem = keyFile.readAll();
    return true;
}

} // namespace testsupport
