// ImapSession::login: LOGIN, AUTHENTICATE PLAIN, or a bearer token through
// XOAUTH2 or OAUTHBEARER, renewed once when refused.
#include "ProfileRecord.h"
#include "ImapSession.h"

#include "CancelFlag.h"
#include "ImapCommands.h"
#include "LoginReplies.h"
#include "RunStatus.h"

#include <utility>

namespace {

// A refusal that says nothing but "not you" is what a wrong password or an
// expired token gets; the other codes (RFC 5530) are not mended by a retry.
bool refusedCredentials(const ImapResponse &response)
{
    return response.code.isEmpty() || response.code == "AUTHENTICATIONFAILED" || response.code == "AUTHORIZATIONFAILED";
}

// The IMAP refusal as the POP3 refusal texts know it, so that both
// protocols tell the user the same things.
QString asPop3Refusal(const ImapResponse &response)
{
    QByteArray code;
    if (response.code == "INUSE")
        code = "IN-USE";
    else if (response.code == "UNAVAILABLE")
        code = "SYS/TEMP";
    else if (response.code == "SERVERBUG" || response.code == "CONTACTADMIN" || response.code == "EXPIRED")
        code = "SYS/PERM";
    else if (!refusedCredentials(response))
        code = "OTHER";
    return QStringLiteral("-ERR ")
        + (code.isEmpty() ? QString() : QStringLiteral("[%1] ").arg(QString::fromLatin1(code)))
        + QString::fromUtf8(response.text);
}

} // namespace

MailResult ImapSession::login(const std::function<void()> &sendBehind)
{
    m_status.setStatusText(QStringLiteral("Verify ID/Password"));
    if (m_preauth)
        return MailResult::done();
    if (m_security != ConnectionSecurity::None && !isEncrypted()) {
        m_failureText = QStringLiteral("The connection is not secured, so the password was not sent.");
        m_failureTitle = QStringLiteral("Connection Failed");
        return failure();
    }
    // What a server offers may grow once logged in (MOVE, UIDPLUS); a login
    // answer without its new list leaves them to be asked. With commands
    // behind the login the question goes out ahead of them: asked after
    // them, its answer would wait behind all of theirs.
    quint64 capabilities = 0;
    const std::function<void()> behind = !sendBehind ? std::function<void()>() : [&] {
        capabilities = send("CAPABILITY");
        sendBehind();
    };
    MailResult result = m_settings.usesOAuth2() ? loginOAuth2() : loginPassword(behind);
    if (!result.ok())
        return result;
    if (m_completion.code != "CAPABILITY") {
        if (const Outcome asked = askCapabilities(capabilities); asked != Outcome::Completed)
            return stepEnded(asked);
    }
    return MailResult::done();
}

MailResult ImapSession::loginPassword(const std::function<void()> &behind)
{
    Outcome outcome = Outcome::Failed;
    if (!hasCapability("LOGINDISABLED")) {
        outcome = sendLogin(behind);
    } else if (hasCapability("AUTH=PLAIN")) {
        outcome = authenticate("PLAIN", saslPlainResponse(m_settings.EmailUserid, m_settings.EmailPassword), "*",
                               behind);
    } else {
        m_failureTitle = QStringLiteral("Connection Failed");
        m_failureText = QStringLiteral("The server takes no password on this connection (it offers neither LOGIN nor "
                                       "AUTHENTICATE PLAIN), so the password was not sent.");
        return failure();
    }
    if (outcome != Outcome::Completed)
        return stepEnded(outcome);
    return judgeLogin(m_settings.EmailPassword);
}

// LOGIN with the user name and password as quoted strings, or as literals
// when they hold what a quoted string cannot (sent at once where the server
// takes LITERAL+, else each after the server's go-ahead).
ImapSession::Outcome ImapSession::sendLogin(const std::function<void()> &behind)
{
    const QList<QByteArray> arguments{m_settings.EmailUserid.toUtf8(), m_settings.EmailPassword.toUtf8()};
    const bool nonSync = hasCapability("LITERAL+");
    QList<QByteArray> pieces{"LOGIN"};
    for (const QByteArray &argument : arguments) {
        if (std::optional<QByteArray> q = ImapCommands::quoted(argument)) {
            pieces.last() += ' ' + *q;
        } else {
            pieces.last() += " {" + QByteArray::number(argument.size()) + (nonSync ? "+}" : "}");
            pieces.append(argument);
        }
    }
    const bool whole = nonSync || pieces.size() == 1;
    const quint64 id = send(whole ? pieces.join("\r\n") : pieces.first());
    for (qsizetype i = 1; !whole && id != 0 && i < pieces.size(); ++i) {
        if (!awaitContinuation(id))
            return await(id);
        m_connection->write(pieces.at(i) + (i + 1 < pieces.size() ? QByteArray() : QByteArray("\r\n")));
    }
    if (id != 0 && behind)
        behind();
    return await(id);
}

std::optional<QByteArray> ImapSession::awaitContinuation(quint64 id)
{
    const Outcome outcome = waitFor([this, id] { return m_continuation.has_value() || m_done.contains(id); },
                                    MailConnection::CancelMode::Ends);
    if (outcome != Outcome::Completed || !m_continuation)
        return std::nullopt;
    return std::exchange(m_continuation, std::nullopt);
}

// AUTHENTICATE with the base64 `response`: inline where the server takes an
// initial response (SASL-IR), else after its "+". A second "+" carries the
// server's error; it is answered with `onError` so that the refusal follows.
// Only an initial response has `behind` sent with it: after a go-ahead the
// server reads the next line as the exchange's, not as a command.
ImapSession::Outcome ImapSession::authenticate(const QByteArray &mechanism, const QByteArray &response,
                                               const QByteArray &onError, const std::function<void()> &behind)
{
    const bool initial = hasCapability("SASL-IR");
    const quint64 id = send("AUTHENTICATE " + mechanism + (initial ? ' ' + response : QByteArray()));
    if (id == 0)
        return await(id);
    if (initial && behind)
        behind();
    bool sent = initial;
    for (int step = 0; step < 2; ++step) {
        if (!awaitContinuation(id))
            break;
        m_connection->write((sent ? onError : response) + "\r\n");
        sent = true;
    }
    return await(id);
}

MailResult ImapSession::judgeLogin(const QString &secret)
{
    if (completedOk())
        return MailResult::done();
    // An alert is for the user to read (RFC 3501): it says why, in the
    // server's words, where a guess at the password would mislead.
    if (m_completion.code == "ALERT") {
        const QString said = replyText(QStringLiteral("* ") + QString::fromUtf8(m_completion.text), secret);
        return MailResult::failure(MailOutcome::ConnectionFailed, QStringLiteral("Connection Failed"),
                                   QStringLiteral("The server refused the login.\r\nThe server said: ") + said, said);
    }
    const LoginRefusal refusal = loginRefusal(asPop3Refusal(m_completion), secret);
    return MailResult::failure(MailOutcome::ConnectionFailed, refusal.title, refusal.text,
                               replyText(QStringLiteral("* ") + QString::fromUtf8(m_completion.text), secret))
        .advising(refusal.reason);
}

MailResult ImapSession::loginOAuth2()
{
    QString offered = QStringLiteral("SASL");
    for (const QByteArray &c : m_capabilities)
        if (c.startsWith("AUTH="))
            offered += QLatin1Char(' ') + QString::fromLatin1(c.mid(5));
    const OAuthMechanism mechanism = oauthMechanism({offered});
    const auto attempt = [this, mechanism](const QString &token) -> TokenTry {
        const Outcome outcome = authenticate(mechanismName(mechanism).toLatin1(), oauthResponse(mechanism, token),
                                             mechanism == OAuthMechanism::XOAuth2 ? QByteArray() : "AQ==");
        if (outcome != Outcome::Completed)
            return {TokenTry::End::Over, stepEnded(outcome)};
        if (completedOk())
            return {TokenTry::End::SignedIn, {}};
        if (refusedCredentials(m_completion))
            return {TokenTry::End::Refused, {}};
        return {TokenTry::End::Over, judgeLogin(token)};
    };
    const auto refused = [this](const QString &token) {
        const QString said = replyText(QStringLiteral("* ") + QString::fromUtf8(m_completion.text), token);
        return oauthRefused(tokenRefusedText(said), said);
    };
    return signInWithToken({mechanism, attempt, [this](const QString &text) { return oauthRefused(text); }, refused});
}

MailResult ImapSession::oauthRefused(const QString &text, const QString &serverWords)
{
    return MailResult::failure(MailOutcome::ConnectionFailed, QStringLiteral("Connection Failed"), text, serverWords);
}
