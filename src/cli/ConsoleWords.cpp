#include "ConsoleWords.h"

namespace ConsoleWords {

namespace {

QString advice(MailReason reason, const QString &server)
{
    const QString settings = QStringLiteral("in the window's Settings (start trelvik without options), or name "
                                            "another profile with --profile.");
    switch (reason) {
    case MailReason::None:
        break;
    case MailReason::NotConfigured:
        return QStringLiteral("Fill in the %1, user ID and password ").arg(server) + settings;
    case MailReason::SettingsWrong:
        return QStringLiteral("Correct them ") + settings;
    case MailReason::SignInAgain:
        return QStringLiteral("Sign in again in the window (start trelvik without options): the browser is needed.");
    }
    return {};
}

} // namespace

QString text(const QString &facts, MailReason reason, const QString &server)
{
    return withAdvice(facts, advice(reason, server));
}

QString text(const MailResult &result)
{
    return text(result.text, result.reason, result.protocolServer);
}

} // namespace ConsoleWords
