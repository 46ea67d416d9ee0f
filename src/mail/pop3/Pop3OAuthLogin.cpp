// The OAuth2 half of Pop3Session::LoginServer: a bearer token through SASL
// XOAUTH2 or OAUTHBEARER (RFC 5034 AUTH), renewed once when refused.
#include "ProfileRecord.h"
#include "Pop3Session.h"

#include "LoginReplies.h"
#include "RunStatus.h"

namespace {

constexpr qsizetype kCommandLineMax = 255; // octets with CR LF (RFC 5034)

// A refusal that says nothing but "not you" (no response code, or [AUTH]) is
// what an expired or revoked token gets; [IN-USE] and the like are not
// mended by a new token.
bool refusedCredentials(const QString &reply)
{
    const QString rest = reply.section(QLatin1Char(' '), 1).trimmed();
    return !rest.startsWith(QLatin1Char('[')) || rest.startsWith(QLatin1String("[AUTH]"), Qt::CaseInsensitive);
}

} // namespace

MailResult Pop3Session::loginOAuth2()
{
    const OAuthMechanism mechanism = oauthMechanism(m_capabilities);
    if (mechanism == OAuthMechanism::None)
        return oauthRefused(QStringLiteral("The server does not offer OAuth2 sign-in (SASL XOAUTH2 or OAUTHBEARER), "
                                           "so the login was not tried.\r\nChoose the sign-in method Password "
                                           "for this server."));
    if (!m_options.accessToken)
        return oauthRefused(QStringLiteral("This profile signs in with OAuth2, but no sign-in is available here."));

    AccessToken token = m_options.accessToken(false);
    for (int attempt = 0;; ++attempt) {
        if (token.state != AccessToken::State::Ready)
            return oauthRefused(token.error).advising(token.reason);
        if (authOAuth(mechanism, token.token) != Outcome::Reply)
            return stepEnded();
        if (serverReply().startsWith(QLatin1String("+OK"), Qt::CaseInsensitive))
            return MailResult::done();
        if (attempt > 0 || !refusedCredentials(serverReply()))
            break;
        // The token may have expired or been withdrawn since it was issued:
        // one fresh token, one more try, never more.
        m_status.setStatusText(QStringLiteral("Renewing Sign-In..."));
        token = m_options.accessToken(true);
        m_status.setStatusText(QStringLiteral("Verify ID/Password"));
    }
    return oauthRefusedByServer(token.token);
}

MailResult Pop3Session::oauthRefusedByServer(const QString &token)
{
    const QString said = replyText(serverReply(), token);
    if (!refusedCredentials(serverReply())) {
        const LoginRefusal refusal = loginRefusal(serverReply(), token);
        return MailResult::failure(MailOutcome::ConnectionFailed, refusal.title, refusal.text, said)
            .advising(refusal.reason);
    }
    return oauthRefused(QStringLiteral("The server refused the OAuth2 sign-in of %1.").arg(m_settings.EmailUserid)
                            + (said.isEmpty() ? QString() : QStringLiteral("\r\nThe server said: ") + said)
                            + QStringLiteral("\r\nCheck that the user name is the account that signed in, or sign "
                                             "in again in the settings."),
                        said);
}

MailResult Pop3Session::oauthRefused(const QString &text, const QString &serverWords)
{
    m_lastOutcome = Outcome::Reply; // the result says it all
    return MailResult::failure(MailOutcome::ConnectionFailed, QStringLiteral("Connection Failed"), text, serverWords);
}

Pop3Session::Outcome Pop3Session::authOAuth(OAuthMechanism mechanism, const QString &token)
{
    bool ok = false;
    const int port = m_settings.EmailPort.trimmed().toInt(&ok);
    const QString response = QString::fromLatin1(
        mechanism == OAuthMechanism::XOAuth2
            ? xoauth2Response(m_settings.EmailUserid, token)
            : oauthBearerResponse(m_settings.EmailUserid, m_settings.EmailHost, ok ? port : 0, token));
    const QString command = QStringLiteral("AUTH ") + mechanismName(mechanism);
    const QString initial = command + QLatin1Char(' ') + response;
    // An initial response only to a server that says it takes one, and only
    // when it fits a command line; otherwise it follows the "+" (the only
    // form some servers accept).
    bool sent = hasCapability(QStringLiteral("SASL-IR")) && initial.size() + 2 <= kCommandLineMax;
    Outcome outcome = sendAndWait(sent ? initial : command, kSingleReply, MailConnection::CancelMode::Ends);
    // Two continuations at most: the one asking for the response, and the
    // one carrying the error of a refused token. That one must be answered
    // (an empty response for XOAUTH2, %x01 for OAUTHBEARER) before the
    // server says -ERR; waiting for it unanswered would hang.
    for (int step = 0; step < 2 && outcome == Outcome::Reply && isContinuation(serverReply()); ++step) {
        if (!sent) {
            sent = true;
            outcome = sendAndWait(response, kSingleReply, MailConnection::CancelMode::Ends);
        } else {
            outcome = sendAndWait(mechanism == OAuthMechanism::XOAuth2 ? QString() : QStringLiteral("AQ=="),
                                  kSingleReply, MailConnection::CancelMode::Ends);
        }
    }
    if (outcome == Outcome::Reply && isContinuation(serverReply()))
        outcome = sendAndWait(QStringLiteral("*"), kSingleReply,
                              MailConnection::CancelMode::Ends); // give up the exchange
    return outcome;
}
