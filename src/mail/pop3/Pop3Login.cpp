// Pop3Session::LoginServer with a password: USER and PASS, or SASL PLAIN
// when the server refuses USER but offers it. OAuth2 is in Pop3OAuthLogin.cpp.
#include "ProfileRecord.h"
#include "Pop3Session.h"

#include "LoginReplies.h"
#include "RunStatus.h"

namespace {
constexpr qsizetype kCommandLineMax = 255; // octets with CR LF (RFC 5034)
}

MailResult Pop3Session::LoginServer()
{
    m_status.setStatusText(QStringLiteral("Verify ID/Password"));
    if (!m_capabilitiesKnown && QueryCapabilities() != Outcome::Reply)
        return stepEnded();
    if (m_security != ConnectionSecurity::None && !isEncrypted()) {
        setFailure(QStringLiteral("The connection is not secured, so the password was not sent."),
                   QStringLiteral("Connection Failed"));
        m_lastOutcome = Outcome::Failed;
        return failure();
    }
    if (m_settings.usesOAuth2())
        return loginOAuth2();
    // The USER reply is not judged: some servers only answer PASS truthfully.
    // To a server offering PIPELINING, PASS goes out with USER inside TLS.
    // In the clear it waits for USER's answer, since a server may refuse USER
    // precisely to keep the password off the wire; unless the server has just
    // said that it takes USER on this connection (RFC 2449: it lists "USER"
    // only where plain-text login is allowed).
    const QString user = QStringLiteral("USER ") + m_settings.EmailUserid;
    const QString pass = QStringLiteral("PASS ") + m_settings.EmailPassword;
    if (hasCapability(QStringLiteral("PIPELINING")) && (isEncrypted() || hasCapability(QStringLiteral("USER"))))
        return loginPipelined(user, pass);
    if (sendAndWait(user, kSingleReply, MailConnection::CancelMode::Ends) != Outcome::Reply)
        return stepEnded();
    if (serverReply().startsWith(QLatin1Char('-')) && offersSaslPlain()) {
        if (authPlain() != Outcome::Reply)
            return stepEnded();
    } else if (sendPass(pass) != Outcome::Reply) {
        return stepEnded();
    }
    return judgeLogin();
}

// PASS, with what is to follow the login behind it when the server takes
// commands ahead of their replies.
Pop3Session::Outcome Pop3Session::sendPass(const QString &pass)
{
    if (m_behindLogin.isEmpty() || !hasCapability(QStringLiteral("PIPELINING")))
        return sendAndWait(pass, kSingleReply, MailConnection::CancelMode::Ends);
    const quint64 passReply = sendAhead(pass, kSingleReply);
    if (passReply == 0)
        return m_lastOutcome;
    sendFollowingLogin();
    return awaitAhead(passReply, true);
}

void Pop3Session::sendFollowingLogin()
{
    for (const auto &[text, mode] : std::exchange(m_behindLogin, {})) {
        const quint64 sequence = sendAhead(text, mode);
        if (sequence == 0) {
            m_sentBehindLogin.clear(); // the connection is gone: nothing to await
            return;
        }
        m_sentBehindLogin.append(sequence);
    }
}

MailResult Pop3Session::loginPipelined(const QString &user, const QString &pass)
{
    const quint64 userReply = sendAhead(user, kSingleReply);
    const quint64 passReply = userReply ? sendAhead(pass, kSingleReply) : 0;
    if (passReply != 0 && !m_behindLogin.isEmpty())
        sendFollowingLogin();
    if (passReply == 0 || awaitAhead(userReply, true) != Outcome::Reply)
        return stepEnded();
    const bool userRefused = serverReply().startsWith(QLatin1Char('-'));
    // PASS's answer is read in any case, so that the next reply is told apart.
    if (awaitAhead(passReply, true) != Outcome::Reply)
        return stepEnded();
    if (userRefused && offersSaslPlain()) {
        // What went behind PASS was answered before this login: not for the caller.
        m_sentBehindLogin.clear();
        if (authPlain() != Outcome::Reply)
            return stepEnded();
    }
    return judgeLogin();
}

MailResult Pop3Session::judgeLogin()
{
    if (serverReply().toUpper().contains(QLatin1String("+OK")))
        return MailResult::done();
    const LoginRefusal refusal = loginRefusal(serverReply(), m_settings.EmailPassword);
    return MailResult::failure(MailOutcome::ConnectionFailed, refusal.title, refusal.text,
                               replyText(serverReply(), m_settings.EmailPassword))
        .advising(refusal.reason);
}

bool Pop3Session::offersSaslPlain() const
{
    for (const QString &line : m_capabilities) {
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty() || words.first().compare(QLatin1String("SASL"), Qt::CaseInsensitive) != 0)
            continue;
        for (qsizetype i = 1; i < words.size(); ++i)
            if (words.at(i).compare(QLatin1String("PLAIN"), Qt::CaseInsensitive) == 0)
                return true;
    }
    return false;
}

Pop3Session::Outcome Pop3Session::authPlain()
{
    const QString response = QString::fromLatin1(saslPlainResponse(m_settings.EmailUserid, m_settings.EmailPassword));
    const QString initial = QStringLiteral("AUTH PLAIN ") + response;
    // A longer response than a command line holds follows the server's "+"
    // continuation instead.
    if (initial.size() + 2 <= kCommandLineMax)
        return sendAndWait(initial, kSingleReply, MailConnection::CancelMode::Ends);
    const Outcome outcome = sendAndWait(QStringLiteral("AUTH PLAIN"), kSingleReply, MailConnection::CancelMode::Ends);
    if (outcome != Outcome::Reply || !serverReply().startsWith(QLatin1Char('+'))
        || serverReply().startsWith(QLatin1String("+OK")))
        return outcome;
    return sendAndWait(response, kSingleReply, MailConnection::CancelMode::Ends);
}
