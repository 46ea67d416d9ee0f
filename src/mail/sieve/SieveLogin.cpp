// SieveSession::login: AUTHENTICATE "PLAIN", or a bearer token through
// XOAUTH2 or OAUTHBEARER, renewed once when refused.
#include "SieveSession.h"

#include "LoginReplies.h"
#include "ProfileRecord.h"
#include "SaslOAuth.h"

MailResult SieveSession::login()
{
    if (m_endpoint.security != ConnectionSecurity::None && !m_connection->isEncrypted())
        return connectFailed(QStringLiteral("The connection is not secured, so the password was not sent."));
    return m_settings.usesOAuth2() ? loginOAuth2() : loginPlain();
}

MailResult SieveSession::loginPlain()
{
    if (!m_info.saslMechanisms.contains(QLatin1String("PLAIN")))
        return connectFailed(QStringLiteral("The ManageSieve server %1 takes no password on this connection (it does "
                                            "not offer AUTHENTICATE PLAIN), so the password was not sent.")
                                 .arg(where()));
    const SieveAnswer answer = authenticate("PLAIN",
                                            saslPlainResponse(m_settings.EmailUserid, m_settings.EmailPassword), "*");
    if (answer.ok())
        return MailResult::done();
    return answer.refused() ? loginRefused(answer, m_settings.EmailPassword) : answer.failure;
}

// AUTHENTICATE with the initial response; a challenge carries the server's
// error (the mechanisms used take none otherwise) and is answered with
// `onError` so that the refusal follows.
SieveAnswer SieveSession::authenticate(const QByteArray &mechanism, const QByteArray &response,
                                       const QByteArray &onError)
{
    if (!m_arrived.isEmpty()
        || !write("AUTHENTICATE " + SieveParser::string(mechanism) + ' ' + SieveParser::string(response) + "\r\n"))
        return failed(QStringLiteral("The connection to the server was lost."));
    for (int step = 0; step < 3; ++step) {
        SieveAnswer answer = await(Wait::StatusOrData, MailConnection::CancelMode::Ends);
        if (answer.end != SieveAnswer::End::Ok || answer.data.isEmpty())
            return answer;
        if (!answer.data.first().startsWithString() || step == 2) {
            lose(QStringLiteral("The server answered the login out of step, so the connection was closed."));
            return failed({});
        }
        if (!write(SieveParser::string(onError) + "\r\n"))
            return failed(QStringLiteral("The connection to the server was lost."));
    }
    return failed({});
}

MailResult SieveSession::loginRefused(const SieveAnswer &answer, const QString &secret)
{
    const QString said = replyText(QStringLiteral("* ") + QString::fromUtf8(answer.status.text), secret);
    return connectFailed(QStringLiteral("The ManageSieve server %1 refused the login of %2.")
                                 .arg(where(), m_settings.EmailUserid)
                             + (said.isEmpty() ? QString() : QStringLiteral("\r\nThe server said: ") + said)
                             + QStringLiteral("\r\nCheck the user name and password in the settings; some servers "
                                              "take another password for their filters."),
                         said);
}

MailResult SieveSession::loginOAuth2()
{
    const OAuthMechanism mechanism =
        oauthMechanism({QStringLiteral("SASL ") + m_info.saslMechanisms.join(QLatin1Char(' '))});
    if (mechanism == OAuthMechanism::None)
        return connectFailed(QStringLiteral("The ManageSieve server does not offer OAuth2 sign-in (SASL XOAUTH2 or "
                                            "OAUTHBEARER), so the login was not tried."));
    if (!m_options.accessToken)
        return connectFailed(QStringLiteral("This profile signs in with OAuth2, but no sign-in is available here."));
    AccessToken token = m_options.accessToken(false);
    for (int attempt = 0;; ++attempt) {
        if (token.state != AccessToken::State::Ready)
            return connectFailed(token.error).advising(token.reason);
        const bool xoauth2 = mechanism == OAuthMechanism::XOAuth2;
        const QByteArray response = xoauth2
            ? xoauth2Response(m_settings.EmailUserid, token.token)
            : oauthBearerResponse(m_settings.EmailUserid, m_endpoint.host, m_endpoint.port, token.token);
        const SieveAnswer answer = authenticate(mechanismName(mechanism).toLatin1(), response,
                                                xoauth2 ? QByteArray() : "AQ==");
        if (answer.ok())
            return MailResult::done();
        if (!answer.refused())
            return answer.failure;
        // The token may have expired since it was issued: one fresh one.
        if (attempt > 0)
            return loginRefused(answer, token.token);
        token = m_options.accessToken(true);
    }
}
