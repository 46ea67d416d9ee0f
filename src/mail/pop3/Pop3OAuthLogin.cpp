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
    const auto attempt = [this, mechanism](const QString &token) -> TokenTry {
        if (authOAuth(mechanism, token) != Outcome::Reply)
            return {TokenTry::End::Over, stepEnded()};
        if (serverReply().startsWith(QLatin1String("+OK"), Qt::CaseInsensitive))
            return {TokenTry::End::SignedIn, {}};
        if (refusedCredentials(serverReply()))
            return {TokenTry::End::Refused, {}};
        return {TokenTry::End::Over, oauthRefusedByServer(token)};
    };
    return signInWithToken({mechanism, attempt, [this](const QString &text) { return oauthRefused(text); },
                            [this](const QString &token) { return oauthRefusedByServer(token); }});
}

MailResult Pop3Session::oauthRefusedByServer(const QString &token)
{
    const QString said = replyText(serverReply(), token);
    if (!refusedCredentials(serverReply())) {
        const LoginRefusal refusal = loginRefusal(serverReply(), token);
        return MailResult::failure(MailOutcome::ConnectionFailed, refusal.title, refusal.text, said)
            .advising(refusal.reason);
    }
    return oauthRefused(tokenRefusedText(said), said);
}

MailResult Pop3Session::oauthRefused(const QString &text, const QString &serverWords)
{
    m_lastOutcome = Outcome::Reply; // the result says it all
    return MailResult::failure(MailOutcome::ConnectionFailed, QStringLiteral("Connection Failed"), text, serverWords);
}

Pop3Session::Outcome Pop3Session::authOAuth(OAuthMechanism mechanism, const QString &token)
{
    const QString response = QString::fromLatin1(oauthResponse(mechanism, token));
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
