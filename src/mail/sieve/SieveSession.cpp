// SieveSession's life: its connection, the greeting (the capability list),
// securing the channel, the commands and the end. The logins are in
// SieveLogin.cpp.
#include "SieveSession.h"

#include "CancelFlag.h"
#include "LoginReplies.h"
#include "ProfileRecord.h"

#include <QDeadlineTimer>
#include <algorithm>

namespace {

SieveLimits limitsOf(const SessionOptions &options)
{
    SieveLimits limits;
    limits.lineBytes = qMin(limits.lineBytes, options.replyLimitBytes);
    limits.literalBytes = qMin(limits.literalBytes, options.replyLimitBytes);
    // A whole script on its line and the status after it; and items enough
    // for a long listing, whose memory (a hundred bytes or so each beyond
    // their text) stays within a tenth of the bytes.
    limits.heldBytes = limits.literalBytes + 2 * limits.lineBytes;
    limits.heldItems = qMax(qsizetype(64), limits.heldBytes / 1024);
    return limits;
}

QString text(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes);
}

} // namespace

SieveSession::SieveSession(const ProfileSettingsRecord &settings, SieveEndpoint endpoint, CancelFlag &cancel,
                           SessionOptions options, QObject *parent)
    // A copy, not a move: the connection is made from the same options.
    : SieveSession(newConnection(options), settings, std::move(endpoint), cancel, options, parent)
{
}

SieveSession::SieveSession(std::unique_ptr<MailConnection> connection, const ProfileSettingsRecord &settings,
                           SieveEndpoint endpoint, CancelFlag &cancel, SessionOptions options, QObject *parent)
    : LineSession(std::move(connection), noStatus(), settings, cancel, std::move(options),
                  {QStringLiteral("ManageSieve"), QStringLiteral("a ManageSieve"), QStringLiteral("4190"), {}}, parent)
    , m_endpoint(std::move(endpoint))
    , m_limits(limitsOf(m_options))
{
    connect(m_connection, &MailConnection::dataArrived, this, &SieveSession::frameResponses);
}

SieveSession::~SieveSession()
{
    m_connection->close();
}

LineSession::Target SieveSession::target() const
{
    return {m_endpoint.host, QString::number(m_endpoint.port), m_endpoint.security};
}

void SieveSession::endConnect(bool)
{
    m_connection->close();
}

QString SieveSession::where() const
{
    return QStringLiteral("%1 (port %2)").arg(m_endpoint.host).arg(m_endpoint.port);
}

void SieveSession::frameResponses()
{
    while (!m_connection->isBroken()) {
        SieveResponse response;
        QString why;
        const qsizetype before = m_connection->received().size();
        switch (SieveParser::take(m_connection->received(), m_limits, &response, &why)) {
        case SieveParser::Frame::Complete:
            // What is held counts from the last time nothing was: a server
            // that never ends an answer, or answers what was not asked,
            // cannot make it grow without end.
            if (m_arrived.isEmpty())
                m_held = {};
            m_held.bytes += before - m_connection->received().size();
            m_held.items += 1 + response.items.size();
            if (m_held.bytes > m_limits.heldBytes || m_held.items > m_limits.heldItems)
                return lose(QStringLiteral("The server sent an answer longer than this program accepts, so the "
                                           "connection was closed."));
            m_arrived.append(std::move(response));
            continue;
        case SieveParser::Frame::Incomplete:
            return;
        case SieveParser::Frame::Invalid:
            return lose(QStringLiteral("The server sent a response that is not ManageSieve (%1), so the connection "
                                       "was closed.")
                            .arg(why));
        case SieveParser::Frame::TooLarge:
            return lose(QStringLiteral("The server sent a response larger than this program accepts, so the "
                                       "connection was closed."));
        }
    }
}

void SieveSession::lose(const QString &text)
{
    m_arrived.clear();
    m_connection->breakOff(text);
}

bool SieveSession::write(const QByteArray &bytes)
{
    return m_connection->isOpen() && !m_connection->isBroken() && m_connection->write(bytes);
}

SieveAnswer SieveSession::failed(const QString &fallback) const
{
    SieveAnswer answer;
    const MailResult why = m_connection->failure();
    answer.failure = MailResult::failure(MailOutcome::ConnectionFailed,
                                         why.title.isEmpty() ? QStringLiteral("Error") : why.title,
                                         why.text.isEmpty() ? fallback : why.text);
    return answer;
}

// Waits for the status that ends the command out (with the data before it),
// or with StatusOrData for the first line of either kind (a SASL challenge).
SieveAnswer SieveSession::await(Wait until, MailConnection::CancelMode mode)
{
    const auto statusAt = [this] {
        for (qsizetype i = 0; i < m_arrived.size(); ++i)
            if (m_arrived.at(i).isStatus())
                return i;
        return qsizetype(-1);
    };
    const auto met = [&] { return until == Wait::StatusOrData ? !m_arrived.isEmpty() : statusAt() >= 0; };
    if (!met()) {
        switch (m_connection->wait(met, mode)) {
        case MailConnection::WaitEnd::Met:
            break;
        case MailConnection::WaitEnd::Cancelled: {
            SieveAnswer answer;
            answer.end = SieveAnswer::End::Cancelled;
            answer.failure = MailResult::cancelled();
            return answer;
        }
        case MailConnection::WaitEnd::Failed:
            return failed(QStringLiteral("The connection to the server was lost."));
        }
    }
    SieveAnswer answer;
    const qsizetype at = statusAt();
    if (until == Wait::StatusOrData && at != 0) {
        answer.end = SieveAnswer::End::Ok;
        answer.data.append(m_arrived.takeFirst());
        return answer;
    }
    answer.data = m_arrived.mid(0, at);
    answer.status = m_arrived.at(at);
    m_arrived.remove(0, at + 1);
    switch (answer.status.kind) {
    case SieveResponse::Kind::Ok:
        answer.end = SieveAnswer::End::Ok;
        break;
    case SieveResponse::Kind::No:
        answer.end = SieveAnswer::End::No;
        break;
    default: // BYE: the server ends the session, whatever it was asked
        lose(QStringLiteral("The server ended the session.")
             + (answer.status.text.isEmpty() ? QString()
                                             : QStringLiteral("\r\nThe server said: ")
                        + replyText(QStringLiteral("* ") + text(answer.status.text), m_settings.EmailPassword)));
        return failed({});
    }
    return answer;
}

SieveAnswer SieveSession::run(const QByteArray &command, MailConnection::CancelMode mode)
{
    if (m_cancel.isSet()) {
        SieveAnswer answer;
        answer.end = SieveAnswer::End::Cancelled;
        answer.failure = MailResult::cancelled();
        return answer;
    }
    // What a server sent unasked (beyond a status owed) is out of step.
    if (!m_arrived.isEmpty())
        lose(QStringLiteral("The server sent a response to a command it was not sent, so the connection was "
                            "closed."));
    if (!write(command + "\r\n"))
        return failed(QStringLiteral("The connection to the server was lost."));
    return await(Wait::Status, mode);
}

void SieveSession::learn(const QList<SieveResponse> &lines)
{
    m_info = {};
    for (const SieveResponse &line : lines) {
        if (!line.startsWithString())
            continue;
        const QByteArray name = line.items.first().text.toUpper();
        const QString value = line.items.size() > 1 ? text(line.items.at(1).text) : QString();
        if (name == "IMPLEMENTATION")
            m_info.implementation = value;
        else if (name == "SIEVE")
            m_info.sieveExtensions = value.toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        else if (name == "SASL")
            m_info.saslMechanisms = value.toUpper().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        else if (name == "STARTTLS")
            m_info.startTls = true;
        else if (name == "VERSION")
            m_info.version = value;
    }
}

MailResult SieveSession::connectServer()
{
    m_arrived.clear();
    m_connection->received().clear();
    m_info = {};
    if (!m_endpoint.error.isEmpty())
        return MailResult::failure(MailOutcome::NotConfigured, QStringLiteral("Error"), m_endpoint.error);
    if (MailResult opened = openChannel(); !opened.ok())
        return opened;
    if (m_security == ConnectionSecurity::Implicit)
        frameResponses(); // what arrived while securing
    const SieveAnswer greeting = await(Wait::Status, MailConnection::CancelMode::Ends);
    if (greeting.end == SieveAnswer::End::Cancelled) {
        endConnect(true);
        return MailResult::cancelled();
    }
    if (greeting.end == SieveAnswer::End::Failed) {
        if (!m_connection->wasReached())
            return connectFailed(unreachableText());
        return connectFailed(QStringLiteral("The server %1 did not answer as a ManageSieve server.\r\n").arg(where())
                             + greeting.failure.text);
    }
    if (!greeting.ok())
        return connectFailed(QStringLiteral("The ManageSieve server %1 refused the session.").arg(where()),
                             QStringLiteral("Connection Failed"), serverWords(greeting));
    learn(greeting.data);
    return m_endpoint.security == ConnectionSecurity::StartTls ? startTls() : MailResult::done();
}

MailResult SieveSession::handshakeFailed(const HandshakeResult &result)
{
    if (!result.tcpConnected)
        return connectFailed(unreachableText());
    return connectFailed(QStringLiteral("A secure connection to the ManageSieve server %1 could not be made, so the "
                                        "password was not sent.\r\n")
                             .arg(where())
                         + result.reason);
}

MailResult SieveSession::startTls()
{
    if (!m_info.startTls)
        return connectFailed(QStringLiteral("The ManageSieve server %1 does not offer STARTTLS, so the connection "
                                            "cannot be secured and the password was not sent.")
                                 .arg(where()));
    const SieveAnswer answer = run("STARTTLS");
    if (!answer.ok()) {
        m_connection->close();
        if (answer.refused())
            return connectFailed(QStringLiteral("The server refused to start TLS, so the password was not sent."),
                                 QStringLiteral("Connection Failed"), serverWords(answer));
        return answer.failure;
    }
    // Nothing that came in the clear may pass for a response inside TLS, and
    // what the server offered before may have been tampered with: it says
    // its capabilities again once secured (RFC 5804).
    m_arrived.clear();
    if (MailResult secured = secureChannel(); !secured.ok())
        return secured;
    m_info = {};
    frameResponses();
    const SieveAnswer again = await(Wait::Status, MailConnection::CancelMode::Ends);
    if (!again.ok())
        return again.end == SieveAnswer::End::No
            ? connectFailed(QStringLiteral("The server refused the session once secured."),
                            QStringLiteral("Connection Failed"), serverWords(again))
            : again.failure;
    learn(again.data);
    return MailResult::done();
}

void SieveSession::logout()
{
    if (m_connection->isOpen() && !m_connection->isBroken() && write("LOGOUT\r\n")) {
        // Nothing hangs on the answer: a silent server is given the grace,
        // not the inactivity limit, and one that trickles is left at its
        // first arrival past the grace.
        const WaitLimits usual{m_options.inactivityLimitMs, m_options.cancelGraceMs, m_options.cancelGraceBytes};
        WaitLimits grace = usual;
        grace.inactivityLimitMs = qMax(1, qMin(usual.inactivityLimitMs, usual.cancelGraceMs));
        const QDeadlineTimer deadline(grace.inactivityLimitMs);
        m_connection->watch(m_cancel, grace);
        (void)m_connection->wait(
            [this, &deadline] {
                return deadline.hasExpired()
                    || std::any_of(m_arrived.cbegin(), m_arrived.cend(),
                                   [](const SieveResponse &r) { return r.isStatus(); });
            },
            MailConnection::CancelMode::Bounded);
        m_connection->watch(m_cancel, usual);
    }
    m_connection->close();
}

SieveAnswer SieveSession::capability()
{
    SieveAnswer answer = run("CAPABILITY");
    if (answer.ok())
        learn(answer.data);
    return answer;
}

SieveAnswer SieveSession::haveSpace(const QString &name, qint64 bytes)
{
    return run("HAVESPACE " + SieveParser::string(name.toUtf8()) + ' ' + QByteArray::number(bytes));
}

SieveAnswer SieveSession::checkScript(const QByteArray &script)
{
    return run("CHECKSCRIPT " + SieveParser::literal(script));
}

SieveAnswer SieveSession::putScript(const QString &name, const QByteArray &script)
{
    return run("PUTSCRIPT " + SieveParser::string(name.toUtf8()) + ' ' + SieveParser::literal(script),
               MailConnection::CancelMode::Bounded);
}

SieveAnswer SieveSession::listScripts(QList<SieveScriptEntry> *scripts)
{
    SieveAnswer answer = run("LISTSCRIPTS");
    scripts->clear();
    for (const SieveResponse &line : std::as_const(answer.data)) {
        if (!line.startsWithString())
            continue;
        const bool active = line.items.size() > 1 && line.items.at(1).text.compare("ACTIVE", Qt::CaseInsensitive) == 0;
        scripts->append({text(line.items.first().text), active});
    }
    return answer;
}

SieveAnswer SieveSession::setActive(const QString &name)
{
    return run("SETACTIVE " + SieveParser::string(name.toUtf8()), MailConnection::CancelMode::Bounded);
}

SieveAnswer SieveSession::getScript(const QString &name, QByteArray *script)
{
    SieveAnswer answer = run("GETSCRIPT " + SieveParser::string(name.toUtf8()));
    script->clear();
    if (answer.ok() && !answer.data.isEmpty() && answer.data.first().startsWithString())
        *script = answer.data.first().items.first().text;
    return answer;
}

SieveAnswer SieveSession::deleteScript(const QString &name)
{
    return run("DELETESCRIPT " + SieveParser::string(name.toUtf8()), MailConnection::CancelMode::Bounded);
}

QString SieveSession::serverWords(const SieveAnswer &answer) const
{
    QString said = replyText(QStringLiteral("* ") + text(answer.status.text), m_settings.EmailPassword);
    if (!answer.status.code.isEmpty())
        said = QStringLiteral("(%1) ").arg(text(answer.status.code)) + said;
    return said.trimmed();
}

MailResult SieveSession::refusal(const SieveAnswer &answer, const QString &what) const
{
    if (!answer.refused())
        return answer.failure;
    const QString said = serverWords(answer);
    return MailResult::failure(MailOutcome::Failed, QStringLiteral("Error"),
                               what + (said.isEmpty() ? QString() : QStringLiteral("\r\nThe server said: ") + said),
                               said);
}
